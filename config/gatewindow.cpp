#include "config/gatewindow.h"

#include "app/appcontext.h"
#include "config/choicelist.h"
#include "link/modulesession.h"
#include "link/replydisplay.h"
#include "protocol/frames.h"
#include "ui/showdata.h"
#include "ui/statuspanel.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFont>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

namespace {

const QString kViewing = QStringLiteral("重新设置");
const QString kEditing = QStringLiteral("设置端口");
const QString kInput = QStringLiteral("输入");
const QString kOutput = QStringLiteral("输出");
const QString kPortStateFile = QStringLiteral("portstate.dat");
constexpr int kPorts = 8;

const QStringList& directionItems() {
    static const QStringList items{kInput, kOutput};
    return items;
}
const QStringList& answerItems() {
    static const QStringList items{QStringLiteral("应答"), QStringLiteral("不应答")};
    return items;
}
const QStringList& reportItems() {
    static const QStringList items{QStringLiteral("端口电平变化后不发送变化信息"),
                                   QStringLiteral("端口电平由低变高后发送变化信息"),
                                   QStringLiteral("端口电平由高变低后发送变化信息"),
                                   QStringLiteral("端口电平变化后发送变化信息")};
    return items;
}
const QStringList& destinationItems() {
    static const QStringList items{QStringLiteral("无输出"), QStringLiteral("串口输出"),
                                   QStringLiteral("对应端口输出"),
                                   QStringLiteral("串口及对应端口同时输出")};
    return items;
}
const QStringList& formItems() {
    static const QStringList items{QStringLiteral("输出正脉冲"), QStringLiteral("输出负脉冲"),
                                   QStringLiteral("输出发端电平")};
    return items;
}

// Item `number` of a list, or an empty text for a number the list does not have (a
// mode nibble the module should never report).
QString itemOrEmpty(const QStringList& items, int number) {
    return number >= 0 && number < items.size() ? items.at(number) : QString();
}

quint8 byteAt(const QByteArray& table, int index) {
    return static_cast<quint8>(table.at(index));
}

} // namespace

quint8 PortItemCode(const QString& text) {
    if (text == kInput)
        return 0x0F;
    if (text == answerItems().at(0))
        return 0xF0;
    for (const QStringList* items : {&reportItems(), &formItems()}) {
        const auto n = items->indexOf(text);
        if (n > 0)
            return static_cast<quint8>(n);
    }
    const auto destination = destinationItems().indexOf(text);
    if (destination > 0)
        return static_cast<quint8>(destination * 0x10);
    return 0x00;
}

QByteArray ReadPortStateFile() {
    QByteArray table;
    // Only a regular file is read: a pipe of that name would hold the window until
    // someone wrote to it, and a link may lead anywhere.
    QFile file(kPortStateFile);
    if (OpenStoredFile(file, QIODevice::ReadOnly) == StoredOpen::Opened)
        table = file.read(24);
    table.resize(24, '\0');
    return table;
}

GateWindow::GateWindow(AppContext& ctx) : ctx_(ctx) {
    setObjectName(QStringLiteral("gate"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("开关量端口设置"));

    auto* grid = new QGridLayout;
    for (int i = 0; i < kPorts; ++i) {
        Label1[i] = new QLabel(this);
        Combo1[i] = MakeChoiceList(this, {});
        Combo5[i] = MakeChoiceList(this, {});
        Combo5[i]->setMinimumWidth(100); // room for "无此参数"
        // The report-mode list also takes typed text (an unknown text counts as 0x00).
        Combo2[i] = MakeChoiceList(this, {}, true);
        Combo3[i] = MakeChoiceList(this, {});
        Combo4[i] = MakeChoiceList(this, {});
        grid->addWidget(Label1[i], i, 0);
        grid->addWidget(Combo1[i], i, 1);
        grid->addWidget(Combo5[i], i, 2);
        // The input list and the two output lists share a place; one side is hidden.
        grid->addWidget(Combo2[i], i, 3, 1, 2);
        grid->addWidget(Combo3[i], i, 3);
        grid->addWidget(Combo4[i], i, 4);
        connect(Combo1[i], &QComboBox::activated, this, [this, i] { Combo1_Click(i); });
    }
    grid->setColumnStretch(3, 2);
    grid->setColumnStretch(4, 1);

    Command3 = new QPushButton(QStringLiteral("刷新"), this);
    Command1 = new QPushButton(kViewing, this);
    Command2 = new QPushButton(QStringLiteral("取消"), this);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {Command3, Command1, Command2}) {
        buttons->addStretch();
        buttons->addWidget(b);
    }
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid, 1);
    layout->addLayout(buttons);

    connect(Command1, &QPushButton::clicked, this, &GateWindow::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &GateWindow::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &GateWindow::Command3_Click);
    // The poll that "刷新" started has ended and portstate.dat holds the module's ports.
    connect(&ctx_, &AppContext::portRefreshFinished, this, &GateWindow::Form_Load);
}

GateWindow::~GateWindow() {
    ctx_.windowOpen.portWindowOpen = false;
}

void GateWindow::Form_Load() {
    // A missing file is created empty, as the poll will write it; a file that cannot
    // be read, and anything else of that name (left as it is), shows as all zeros.
    if (!StoredNameTaken(kPortStateFile)) {
        QFile create(kPortStateFile);
        OpenStoredFile(create, QIODevice::WriteOnly);
    }
    storedPortTable = ReadPortStateFile();
    portChanged.fill(false);
    // A refresh redraws the rows as they are; the lists are filled only once.
    if (!ctx_.link().cycle.portRefreshPending || !initialised_)
        InitPortWindow();
    ctx_.link().cycle.portRefreshPending = false;
    ShowPortTable();
    Command3->setEnabled(true);
    ctx_.windowOpen.portWindowOpen = true;
}

void GateWindow::InitPortWindow() {
    resize(twips(7320), twips(5880));
    setWindowIcon(QIcon(QStringLiteral(":/icons/113.png")));
    for (int i = 0; i < kPorts; ++i) {
        QFont font = Label1[i]->font();
        font.setPointSize(10);
        Label1[i]->setFont(font);
        Label1[i]->setText(QStringLiteral("PB%1").arg(i + 1));
        const std::pair<QComboBox*, const QStringList*> lists[] = {{Combo1[i], &directionItems()},
                                                                   {Combo2[i], &reportItems()},
                                                                   {Combo3[i], &destinationItems()},
                                                                   {Combo4[i], &formItems()},
                                                                   {Combo5[i], &answerItems()}};
        for (auto [list, items] : lists) {
            list->clear();
            list->addItems(*items);
            list->setEditText(QString());
        }
        showOutputLists(i, false);
        edit_state(i, false);
    }
    initialised_ = true;
}

void GateWindow::showOutputLists(int row, bool output) {
    Combo3[row]->setVisible(output);
    Combo4[row]->setVisible(output);
    Combo2[row]->setVisible(!output);
}

void GateWindow::ShowPortTable() {
    for (int i = 0; i < kPorts; ++i) {
        const quint8 b1 = byteAt(storedPortTable, 3 * i + 1);
        const quint8 b2 = byteAt(storedPortTable, 3 * i + 2);
        if (b1 == 0x00 || b1 == 0xF0) {
            SetListText(Combo1[i], kOutput);
            SetListText(Combo5[i], b1 == 0xF0 ? answerItems().at(0) : answerItems().at(1));
            showOutputLists(i, true);
            outputCarried = true;
        } else if (b1 == 0x0F || b1 == 0xFF) {
            SetListText(Combo1[i], kInput);
            SetListText(Combo5[i], QStringLiteral("无此参数"));
            showOutputLists(i, false);
            outputCarried = false;
        }
        const int high = b2 >> 4;
        const int low = b2 & 0x0F;
        if (outputCarried) {
            SetListText(Combo3[i], itemOrEmpty(destinationItems(), high));
            SetListText(Combo4[i], itemOrEmpty(formItems(), low));
        } else {
            SetListText(Combo2[i], itemOrEmpty(reportItems(), low));
        }
    }
}

void GateWindow::Combo1_Click(int Index) {
    const QString direction = Combo1[Index]->currentText();
    const bool output = direction == kOutput;
    if (!output && direction != kInput)
        return;
    Combo5[Index]->setEnabled(output);
    SetListText(Combo5[Index], output ? answerItems().at(1) : QStringLiteral("无此参数"));
    showOutputLists(Index, output);
    SetListText(Combo2[Index], reportItems().at(0));
    SetListText(Combo3[Index], destinationItems().at(3));
    SetListText(Combo4[Index], formItems().at(2));
}

void GateWindow::edit_state(int Index, bool disply) {
    for (QComboBox* list :
         {Combo1[Index], Combo2[Index], Combo3[Index], Combo4[Index], Combo5[Index]})
        list->setEnabled(disply);
}

void GateWindow::CollectPortTable() {
    for (int i = 0; i < kPorts; ++i) {
        newPortTable[3 * i] = static_cast<char>(i);
        const QString direction = Combo1[i]->currentText();
        if (direction == kInput) {
            newPortTable[3 * i + 1] = static_cast<char>(0x0F);
            newPortTable[3 * i + 2] = static_cast<char>(PortItemCode(Combo2[i]->currentText()));
        } else if (direction == kOutput) {
            newPortTable[3 * i + 1] = static_cast<char>(PortItemCode(Combo5[i]->currentText()));
            newPortTable[3 * i + 2] = static_cast<char>(PortItemCode(Combo3[i]->currentText()) +
                                                        PortItemCode(Combo4[i]->currentText()));
        }
    }
}

void GateWindow::MarkChangedPorts() {
    for (int i = 0; i < kPorts; ++i)
        portChanged[i] = newPortTable.mid(3 * i + 1, 2) != storedPortTable.mid(3 * i + 1, 2);
}

void GateWindow::Command1_Click() {
    const QString caption = Command1->text();
    if (caption == kViewing) {
        for (int i = 0; i < kPorts; ++i) {
            edit_state(i, true);
            portChanged[i] = false;
        }
        Command1->setText(kEditing);
        return;
    }
    if (caption != kEditing)
        return;
    CollectPortTable();
    MarkChangedPorts();
    const bool anyChanged =
        std::find(portChanged.begin(), portChanged.end(), true) != portChanged.end();
    // With the port closed nothing can be sent; the choices stay for a later try.
    if (anyChanged && !ctx_.session().PortOpenForUser())
        return;
    for (int i = 0; i < kPorts; ++i)
        edit_state(i, false);
    for (int k = 0; k < kPorts; ++k) {
        if (!portChanged[k])
            continue;
        ctx_.session().SendFrame(t83::PortWriteFrame(k, quint8(newPortTable.at(3 * k + 1)),
                                                     quint8(newPortTable.at(3 * k + 2))));
    }
    Command1->setText(kViewing);
}

void GateWindow::Command2_Click() {
    closingFromCode_ = true;
    close();
}

void GateWindow::Command3_Click() {
    // The port queries leave from a timer, which drops them quietly on a closed port;
    // the user who asked for the refresh is told instead.
    if (!ctx_.session().PortOpenForUser())
        return;
    Command3->setEnabled(false);
    ctx_.session().startRefreshPoll();
}

void GateWindow::closeEvent(QCloseEvent* event) {
    // The close box is refused and the window keeps waiting for its refresh; once it
    // really closes, a running poll no longer redraws it.
    if (!closingFromCode_ && !ctx_.closingDown) {
        event->ignore();
        return;
    }
    ctx_.link().cycle.portRefreshPending = false;
    ctx_.windowOpen.portWindowOpen = false;
    event->accept();
}
