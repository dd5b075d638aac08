#include "config/modulewindow.h"

#include "app/appcontext.h"
#include "config/choicelist.h"
#include "config/keyfilters.h"
#include "link/modulesession.h"
#include "protocol/codes.h"
#include "protocol/frames.h"
#include "protocol/moduleparameters.h"
#include "ui/showdata.h"
#include "ui/statuspanel.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

namespace {

const QString kViewing = QStringLiteral("重新设置");
const QString kEditing = QStringLiteral("设  置");
const QString kNoSuchParameter = QStringLiteral("无此参数");

// The six text settings that can be written: label, width in digits, and whether the
// digits are hexadecimal (addresses, retry count, group) or decimal (frequencies).
struct TextSetting {
    const char16_t* label;
    int width;
    bool hex;
};
constexpr TextSetting kTextSettings[6] = {
    {u"发射频率", 6, false}, {u"接收频率", 6, false}, {u"身份地址", 4, true},
    {u"目的地址", 4, true},  {u"重发次数", 2, true},  {u"邀请分组", 4, true},
};

// Operation codes of the hex-valued settings, boxes 2 to 5.
constexpr quint8 kHexSettingCodes[4] = {t83::cmd::SetOwnAddress, t83::cmd::SetDestAddress,
                                        t83::cmd::SetRetryCount, t83::cmd::SetInviteGroup};

// The three Combo1 lists: label, items, operation code, and the text written as 0xFF
// (every other text is written as 0x00).
struct ListSetting {
    const char16_t* label;
    const char16_t* items[2];
    quint8 code;
    const char16_t* onText;
};
constexpr ListSetting kListSettings[3] = {
    {u"省电模式", {u"普通", u"省电"}, t83::cmd::SetPowerSaving, u"省电"},
    {u"温补模式", {u"普通", u"温补"}, t83::cmd::SetTempCompensation, u"温补"},
    {u"语音模式", {u"申请", u"非申请"}, t83::cmd::SetVoiceMode, u"申请"},
};

QString text16(const char16_t* s) {
    return QString::fromUtf16(s);
}

bool allDigits(const QString& text, bool hex) {
    for (QChar c : text) {
        const char16_t u = c.unicode();
        const bool digit = u >= u'0' && u <= u'9';
        if (!digit && !(hex && u >= u'A' && u <= u'F'))
            return false;
    }
    return true;
}

// The hex text of an address box as it is sent: surrounding spaces dropped, and upper
// case, since a pasted lower-case digit would otherwise count as 0.
QString hexDigitsOf(const QLineEdit* box) {
    return box->text().trimmed().toUpper();
}

// The retry box must be able to show "无此参数" whole; otherwise it takes two digits.
void fitRetryBox(QLineEdit* box, const ModuleParameters& m) {
    box->setMaxLength(m.m_repeat == kNoSuchParameter ? 4 : 2);
}

QFont sizeTen(QFont font) {
    font.setPointSize(10);
    return font;
}

} // namespace

ModuleWindow::ModuleWindow(AppContext& ctx) : ctx_(ctx) {
    setObjectName(QStringLiteral("module"));
    setAttribute(Qt::WA_DeleteOnClose);
    buildControls();
    connect(Command1, &QPushButton::clicked, this, &ModuleWindow::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &ModuleWindow::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &ModuleWindow::Command3_Click);
    // The read cycle that "刷新" started has ended: the record holds what the module
    // answered now.
    connect(&ctx_, &AppContext::moduleRefreshFinished, this, [this] {
        Command3->setEnabled(true);
        ShowModuleParameters(ctx_);
    });
}

ModuleWindow::~ModuleWindow() {
    ctx_.windowOpen.moduleWindowOpen = false;
}

void ModuleWindow::buildControls() {
    setWindowTitle(QStringLiteral("模块参数设置"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/113.png")));

    Frame1 = new QGroupBox(QStringLiteral("模块设置"), this);
    auto* grid = new QGridLayout(Frame1);
    for (int i = 0; i < 7; ++i) {
        const QString caption = i < 6 ? text16(kTextSettings[i].label) : QStringLiteral("软件版本");
        Label1[i] = new QLabel(caption, Frame1);
        Text1[i] = new QLineEdit(Frame1);
        if (i < 6) {
            Text1[i]->setMaxLength(kTextSettings[i].width);
            // Typed characters pass the key filters; an input method would bypass them.
            Text1[i]->setAttribute(Qt::WA_InputMethodEnabled, false);
            Text1[i]->installEventFilter(this);
        }
        // Left column: boxes 0..4; right column: boxes 5 and 6, then the three lists.
        const int row = i < 5 ? i : i - 5;
        const int column = i < 5 ? 0 : 2;
        grid->addWidget(Label1[i], row, column);
        grid->addWidget(Text1[i], row, column + 1);
    }
    for (int j = 0; j < 3; ++j) {
        const ListSetting& s = kListSettings[j];
        Label2[j] = new QLabel(text16(s.label), Frame1);
        Combo1[j] = MakeChoiceList(Frame1, {text16(s.items[0]), text16(s.items[1])});
        grid->addWidget(Label2[j], j + 2, 2);
        grid->addWidget(Combo1[j], j + 2, 3);
    }
    Label3 = new QLabel(QStringLiteral("静噪方式"), Frame1);
    Combo2 = MakeChoiceList(Frame1, {QStringLiteral("数字"), QStringLiteral("模拟")});
    Label4 = new QLabel(QStringLiteral("数据位数"), Frame1);
    Combo3 = MakeChoiceList(Frame1, {QStringLiteral("八位"), QStringLiteral("九位")});
    grid->addWidget(Label3, 5, 0);
    grid->addWidget(Combo2, 5, 1);
    grid->addWidget(Label4, 5, 2);
    grid->addWidget(Combo3, 5, 3);

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
    layout->addWidget(Frame1, 1);
    layout->addLayout(buttons);
}

void ModuleWindow::Form_Load() {
    for (int i = 0; i < 7; ++i) {
        Label1[i]->setFont(sizeTen(Label1[i]->font()));
        Text1[i]->setFont(sizeTen(Text1[i]->font()));
        Text1[i]->clear();
    }
    for (int j = 0; j < 3; ++j) {
        Label2[j]->setFont(sizeTen(Label2[j]->font()));
        Combo1[j]->setFont(sizeTen(Combo1[j]->font()));
        Combo1[j]->setEditText(QString());
    }
    resize(twips(5940), twips(5130));
    fitRetryBox(Text1[4], ctx_.params);
    ShowModuleParameters(ctx_);
    SetParameterEditing(ctx_, false);
    ctx_.windowOpen.moduleWindowOpen = true;
    SetListText(Combo2, ctx_.params.m_sqr);
    SetListText(Combo3, ctx_.params.m_datbit);
    setListsEditing(false);
}

void ModuleWindow::setListsEditing(bool enabled) {
    Combo2->setEnabled(enabled);
    Combo3->setEnabled(enabled);
}

void ModuleWindow::Command1_Click() {
    const QString caption = Command1->text();
    if (caption == kViewing) {
        Command1->setText(kEditing);
        SetParameterEditing(ctx_, true);
        setListsEditing(true);
        return;
    }
    if (caption != kEditing)
        return;

    computeChangedFlags();
    // A frame built from missing or foreign digits would set the module to a value the
    // user never entered: nothing is written until every changed setting is complete,
    // and the window stays in editing so the user can correct it.
    const QStringList malformed = malformedSettings();
    if (!malformed.isEmpty()) {
        ctx_.dialogs().message(
            QStringLiteral("下列参数输入不完整或格式不对,本次没有发送任何设置:\n") +
                malformed.join(QLatin1Char('\n')) + QStringLiteral("\n请改正后再按\"设  置\"。"),
            QStringLiteral("提示"), UserDialogs::Icon::Exclamation);
        return;
    }
    // With the port closed nothing can be written; the edits stay for a later try.
    if (!ctx_.session().PortOpenForUser())
        return;

    Command1->setText(kViewing);
    ctx_.session().writeSettings(writeFrames());
    SetParameterEditing(ctx_, false);
    setListsEditing(false);
}

void ModuleWindow::computeChangedFlags() {
    const ModuleParameters& m = ctx_.params;
    const QString* stored[6] = {&m.m_txfreque,  &m.m_rxfreque, &m.m_meaddress,
                                &m.m_headdress, &m.m_repeat,   &m.m_invite};
    const QString* storedLists[3] = {&m.m_typepower, &m.m_typeheat, &m.m_typeaudio};
    const auto differs = [](const QString& shown, const QString& held) {
        return QString::compare(shown, held, Qt::CaseInsensitive) != 0;
    };
    for (int i = 0; i < 6; ++i)
        textChanged[i] = differs(Text1[i]->text(), *stored[i]);
    for (int j = 0; j < 3; ++j)
        listChanged[j] = differs(Combo1[j]->currentText(), *storedLists[j]);
}

QStringList ModuleWindow::malformedSettings() const {
    QStringList out;
    // One frame carries both frequencies, so both must be complete when either changed.
    const bool frequencies = textChanged[0] || textChanged[1];
    for (int i = 0; i < 6; ++i) {
        const TextSetting& s = kTextSettings[i];
        if (!(i < 2 ? frequencies : textChanged[i]))
            continue;
        const QString text = s.hex ? hexDigitsOf(Text1[i]) : Text1[i]->text();
        if (text.size() == s.width && allDigits(text, s.hex))
            continue;
        out << text16(s.label) + (s.hex ? QStringLiteral(": 需要%1位十六进制数(0-9,A-F)")
                                        : QStringLiteral(": 需要%1位十进制数字"))
                                     .arg(s.width);
    }
    return out;
}

QList<QByteArray> ModuleWindow::writeFrames() const {
    QList<QByteArray> frames;
    if (textChanged[0] || textChanged[1])
        frames << t83::FrequencyWriteFrame(Text1[0]->text(), Text1[1]->text());
    for (int box = 2; box < 6; ++box)
        if (textChanged[box])
            frames << t83::HexSettingWriteFrame(kHexSettingCodes[box - 2], hexDigitsOf(Text1[box]));
    for (int j = 0; j < 3; ++j)
        if (listChanged[j])
            frames << t83::ModeWriteFrame(
                kListSettings[j].code, Combo1[j]->currentText() == text16(kListSettings[j].onText));
    // Squelch and data bits go out on every write, when their list shows a known value.
    const QString squelch = Combo2->currentText();
    if (squelch == QStringLiteral("模拟") || squelch == QStringLiteral("数字"))
        frames << t83::SquelchWriteFrame(squelch == QStringLiteral("数字"));
    const QString dataBits = Combo3->currentText();
    if (dataBits == QStringLiteral("八位") || dataBits == QStringLiteral("九位"))
        frames << t83::DataBitsWriteFrame(dataBits == QStringLiteral("九位"));
    return frames;
}

void ModuleWindow::Command2_Click() {
    closingFromCode_ = true;
    close();
}

void ModuleWindow::Command3_Click() {
    // The read requests leave from a timer, which drops them quietly on a closed port;
    // the user who asked for the refresh is told instead.
    if (!ctx_.session().PortOpenForUser())
        return;
    Command3->setEnabled(false);
    ctx_.session().startRefreshRead();
}

void ModuleWindow::closeEvent(QCloseEvent* event) {
    // The close box is refused; the window closes through "取消" or with the program.
    if (!closingFromCode_ && !ctx_.closingDown) {
        event->ignore();
        return;
    }
    ctx_.windowOpen.moduleWindowOpen = false;
    event->accept();
}

bool ModuleWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const int box =
        static_cast<int>(std::find(Text1.begin(), Text1.end(), watched) - Text1.begin());
    const QString typed = static_cast<QKeyEvent*>(event)->text();
    if (box >= 6 || typed.isEmpty())
        return QWidget::eventFilter(watched, event); // editing keys without a character
    const int key = typed.at(0).unicode();
    if (key > 255)
        return true;
    const int passed = box < 2 ? FilterDecimalKey(key) : FilterHexKey(Text1[box], key);
    return passed == 0;
}

void ShowModuleParameters(AppContext& ctx) {
    ModuleWindow* w = ctx.window<ModuleWindow>();
    const ModuleParameters& m = ctx.params;
    const std::pair<const QString&, bool> texts[7] = {
        {m.m_txfreque, m.m_txfrequeb},   {m.m_rxfreque, m.m_rxfrequeb},
        {m.m_meaddress, m.m_meaddressb}, {m.m_headdress, m.m_headdressb},
        {m.m_repeat, m.m_repeatb},       {m.m_invite, m.m_inviteb},
        {m.m_version, m.m_versionb}};
    fitRetryBox(w->Text1[4], m);
    for (int i = 0; i < 7; ++i) {
        w->Text1[i]->setText(texts[i].first);
        w->Text1[i]->setEnabled(texts[i].second);
    }
    const std::pair<const QString&, bool> lists[3] = {{m.m_typepower, m.m_typepowerb},
                                                      {m.m_typeheat, m.m_typeheatb},
                                                      {m.m_typeaudio, m.m_typeaudiob}};
    for (int j = 0; j < 3; ++j) {
        SetListText(w->Combo1[j], lists[j].first);
        w->Combo1[j]->setEnabled(lists[j].second);
    }
}

void SetParameterEditing(AppContext& ctx, bool enabled) {
    ModuleWindow* w = ctx.window<ModuleWindow>();
    for (QLineEdit* box : w->Text1)
        box->setEnabled(enabled);
    for (QComboBox* list : w->Combo1)
        list->setEnabled(enabled);
}
