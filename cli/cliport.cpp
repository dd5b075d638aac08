#include "cli/cliport.h"

#include "cli/exitcodes.h"
#include "cli/text.h"
#include "link/qserialbackend.h"
#include "serial/portopen.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>

namespace {
// The number the serial object is told; the resolver ignores it.
constexpr int kPortNumber = 1;

int ComNumber(const QString& given) {
    static const QRegularExpression com(QStringLiteral("^COM([1-9][0-9]{0,3})$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const auto m = com.match(given);
    return m.hasMatch() ? m.captured(1).toInt() : 0;
}
} // namespace

CliPort::CliPort(SettingsStore& store, QObject* parent)
    : QObject(parent), store_(store), table_(store), map_(table_),
      session_(std::make_unique<ModuleSession>([this](int) { return device_; },
                                               &QSerialBackend::create)) {
    connect(session_.get(), &ModuleSession::lineLost, this, [this](const QString& detail) {
        lost_ = true;
        const QString what = detail.isEmpty()
                                 ? Say(QStringLiteral("设备已被拔出或关闭"),
                                       QStringLiteral("the device was unplugged or closed"))
                                 : Say(QStringLiteral("读写串口时出错:%1"),
                                       QStringLiteral("read or write failed: %1"))
                                       .arg(detail);
        emit lost(
            Say(QStringLiteral("串口%1的连接已断开,%2。"),
                QStringLiteral("the connection of port %1 was lost: %2."))
                .arg(name_ == device_ ? name_ : name_ + QStringLiteral("(%1)").arg(device_), what));
    });
}

CliPort::~CliPort() {
    close();
}

qint32 CliPort::StoredRate(const SettingsStore& store) {
    const auto rate = StoredNumber<qint32>(
        LeadingNumber(store.GetRegString(RegKeys::PortSetting, QStringLiteral("波特率"))));
    return rate > 0 ? rate : 9600;
}

QString CliPort::resolve(const QString& given, QString* error) {
    if (const int n = ComNumber(given)) {
        name_ = QStringLiteral("COM%1").arg(n);
        const QString device = map_.deviceFor(n);
        if (device.isEmpty())
            *error = Say(QStringLiteral("设置串口无效: %1 没有对应的设备"),
                         QStringLiteral("invalid port: nothing is mapped to %1"))
                         .arg(name_);
        return device;
    }
    if (given.startsWith(QLatin1String("serial:"))) {
        const QString wanted = given.mid(7);
        name_ = given;
        for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
            if (!wanted.isEmpty() && info.serialNumber() == wanted)
                return info.systemLocation();
        *error = Say(QStringLiteral("设置串口无效: 没有序列号为 %1 的串口"),
                     QStringLiteral("invalid port: no serial port has the serial number %1"))
                     .arg(wanted);
        return {};
    }
    name_ = given;
    // A device with a number in the port map goes by that number in the records.
    const QString canonical = QFileInfo(given).canonicalFilePath();
    for (const QString& entry : table_.names()) {
        const QString mapped = table_.device(entry);
        if (mapped == given ||
            (!canonical.isEmpty() && QFileInfo(mapped).canonicalFilePath() == canonical)) {
            name_ = entry.toUpper();
            break;
        }
    }
    return given;
}

std::optional<int> CliPort::open(const QString& given, std::optional<qint32> rate, QString* error) {
    device_ = resolve(given, error);
    if (device_.isEmpty())
        return exitcode::Port;
    const QString settings =
        QString::number(rate.value_or(StoredRate(store_))) + QStringLiteral(",n,8,1");
    const CommControl::Result result = OpenPort(comm(), kPortNumber, settings);
    if (result.ok())
        return std::nullopt;
    switch (result.failure) {
    case CommControl::Failure::InvalidPort:
        *error = Say(QStringLiteral("设置串口无效: %1"), QStringLiteral("invalid port: %1"))
                     .arg(result.description);
        break;
    case CommControl::Failure::AlreadyOpen:
        *error = Say(QStringLiteral("设置串口已打开(%1 正被其他程序使用): %2"),
                     QStringLiteral("port busy (%1 is in use by another program): %2"))
                     .arg(device_, result.description);
        break;
    default:
        *error = result.description;
        break;
    }
    return exitcode::Port;
}

void CliPort::close() {
    if (!session_)
        return;
    CommControl& c = comm();
    for (auto user : {CommControl::DtrUser::TypedKeys, CommControl::DtrUser::DataString,
                      CommControl::DtrUser::FileSend, CommControl::DtrUser::DataStringBlock})
        c.releaseDtr(user);
    session_->link().resetToIdle();
    if (c.PortOpen())
        c.setPortOpen(false);
}
