#include "app/comwindow.h"

#include "app/appcontext.h"
#include "app/portcommands.h"
#include "app/settingsstore.h"
#include "link/link.h"
#include "serial/serialsettings.h"
#include "ui/statuspanel.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFont>
#include <QFontMetrics>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>

namespace {
QComboBox* makeList(QWidget* parent, int left, int top, int width) {
    auto* box = new QComboBox(parent);
    box->setEditable(true); // shows a stored value even when the list lacks it
    box->setInsertPolicy(QComboBox::NoInsert);
    // Only a choice from the list: no pasting or dropping text into it either.
    box->lineEdit()->setContextMenuPolicy(Qt::NoContextMenu);
    box->lineEdit()->setAcceptDrops(false);
    box->setGeometry(twips(left), twips(top), twips(width), 24);
    return box;
}

QLabel* makeLabel(QWidget* parent, const QString& text, int left, int top, int width) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(twips(left), twips(top), twips(width), 24);
    return label;
}
} // namespace

ComWindow::ComWindow(AppContext& ctx) : ctx_(ctx) {
    setObjectName(QStringLiteral("com"));
    setWindowTitle(QStringLiteral("串口设置"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/113.png")));
    Label1 = makeLabel(this, QStringLiteral("串口编号"), 120, 240, 1215);
    Combo1 = makeList(this, 1680, 240, 1335);
    Label2 = makeLabel(this, QStringLiteral("串口速率"), 120, 885, 1215);
    Combo2 = makeList(this, 1680, 885, 1335);
    Label4 = makeLabel(this, QStringLiteral("数据位数"), 120, 1560, 1215);
    Combo4 = makeList(this, 1680, 1560, 1335);
    Command1 = new QPushButton(QStringLiteral("确定"), this);
    Command1->setGeometry(twips(360), twips(2310), twips(1050), 28);
    Command1->setDefault(true);
    Command2 = new QPushButton(QStringLiteral("取消"), this);
    Command2->setGeometry(twips(1800), twips(2310), twips(1050), 28);
    deviceLine = new QLabel(this);
    deviceLine->setObjectName(QStringLiteral("deviceLine"));
    deviceLine->setGeometry(twips(120), twips(2310) + 32, twips(3375 - 240), 40);
    deviceLine->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QFont small = deviceLine->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    deviceLine->setFont(small);
    connect(Combo1, &QComboBox::currentTextChanged, this, &ComWindow::showChosenDevice);
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Combo1);
    setTabOrder(Combo1, Combo2);
    setTabOrder(Combo2, Combo4);
    for (QComboBox* box : {Combo1, Combo2, Combo4}) {
        box->installEventFilter(this);
        box->lineEdit()->installEventFilter(this);
    }
    Command1->installEventFilter(this);
    Command2->installEventFilter(this);
    installEventFilter(this);
    connect(Command1, &QPushButton::clicked, this, &ComWindow::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &ComWindow::Command2_Click);
}

ComWindow::~ComWindow() {
    ctx_.windowOpen.comWindowOpen = false;
}

QString ComWindow::comconver(const QString& portName) {
    static const QRegularExpression re(QStringLiteral("^COM([1-9]|[1-3][0-9]|40)$"));
    const auto match = re.match(portName);
    return match.hasMatch() ? match.captured(1) : QString();
}

void ComWindow::Form_Load() {
    setFixedSize(twips(3375), twips(3540));
    Combo1->clear();
    for (const QString& name : ctx_.SerialPortNames)
        Combo1->addItem(comconver(name));
    Combo1->setCurrentIndex(0);
    for (qint32 rate : kOfferedRates)
        Combo2->addItem(QString::number(rate));
    Combo4->addItem(QStringLiteral("八位"));
    Combo4->addItem(QStringLiteral("九位"));
    // The stored values are shown even when the lists lack them; when a list has the
    // value, that item is the one selected.
    const auto showStored = [](QComboBox* box, const QString& text) {
        const int index = box->findText(text);
        if (index >= 0)
            box->setCurrentIndex(index);
        box->setEditText(text);
    };
    showStored(Combo1, ctx_.store().GetRegString(RegKeys::PortSetting, QStringLiteral("串口号")));
    showStored(Combo2, ctx_.store().GetRegString(RegKeys::PortSetting, QStringLiteral("波特率")));
    Combo4->setCurrentIndex(0);
    showChosenDevice();
    ctx_.windowOpen.comWindowOpen = true;
}

void ComWindow::showChosenDevice() {
    bool ok = false;
    const int port = Combo1->currentText().trimmed().toInt(&ok);
    const PortMap::DeviceDescription d =
        ok ? ctx_.portMap().describe(port) : PortMap::DeviceDescription{};
    QString path = d.device.isEmpty() ? QStringLiteral("(无设备)") : d.device;
    if (!d.target.isEmpty())
        path += QStringLiteral(" → ") + d.target;
    if (!d.device.isEmpty() && !d.present)
        path += QStringLiteral(" (未连接)");
    QStringList about;
    for (const QString& part : {d.description, d.manufacturer})
        if (!part.isEmpty())
            about << part;
    if (!d.serialNumber.isEmpty())
        about << QStringLiteral("序列号 ") + d.serialNumber;
    const QString full =
        about.isEmpty() ? path : path + QLatin1Char('\n') + about.join(QStringLiteral(", "));
    // Long by-id names are cut in the middle; the whole text is in the tooltip.
    const QFontMetrics metrics(deviceLine->font());
    const int width = deviceLine->width();
    QStringList shown;
    for (const QString& line : full.split(QLatin1Char('\n')))
        shown << metrics.elidedText(line, Qt::ElideMiddle, width);
    deviceLine->setText(shown.join(QLatin1Char('\n')));
    deviceLine->setToolTip(full);
}

void ComWindow::Command2_Click() {
    unload();
}

void ComWindow::Command1_Click() {
    bool portOk = false;
    const int port = Combo1->currentText().trimmed().toInt(&portOk);
    if (!portOk || port < 1 || port > 40) {
        // No port in the list (none found, or one beyond COM40): there is nothing to
        // open, so say so and let the user choose again.
        ctx_.dialogs().message(QStringLiteral("设置串口无效,确定后请重新设置"),
                               QStringLiteral("提示"), UserDialogs::Icon::Exclamation);
        return;
    }
    bool rateOk = false;
    const int rate = Combo2->currentText().trimmed().toInt(&rateOk);
    if (!rateOk || rate <= 0) {
        // Checked before the running port is closed, which a bad rate would leave shut.
        ctx_.dialogs().message(QStringLiteral("设置串口速率无效,确定后请重新设置"),
                               QStringLiteral("提示"), UserDialogs::Icon::Exclamation);
        return;
    }
    comport = static_cast<qint16>(port);
    comrate = rate;
    const QString settings =
        QString::number(comrate) + (Combo4->currentText() == QStringLiteral("九位")
                                        ? QStringLiteral(",M,8,1")
                                        : QStringLiteral(",N,8,1"));
    if (ApplyPortSettings(ctx_, comport, comrate, settings)) {
        ctx_.CurrentRate = comrate;
        ctx_.session().probe();
    }
    unload();
}

void ComWindow::unload() {
    unloading_ = true;
    close();
}

void ComWindow::closeEvent(QCloseEvent* event) {
    ctx_.windowOpen.comWindowOpen = false;
    if (unloading_ || ctx_.closingDown)
        event->accept();
    else
        event->ignore(); // the close box does nothing; OK or Cancel close the window
}

bool ComWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        // Enter presses the button that has the focus; on a list it means OK.
        if (auto* button = qobject_cast<QPushButton*>(watched))
            button->click();
        else
            Command1->click();
        return true;
    }
    if (key->key() == Qt::Key_Escape) {
        Command2->click();
        return true;
    }
    if (watched == this || qobject_cast<QPushButton*>(watched))
        return false;
    // The lists take no typing: only a choice from the list.
    const bool editing =
        !key->text().isEmpty() || key->key() == Qt::Key_Delete || key->key() == Qt::Key_Backspace;
    return editing;
}
