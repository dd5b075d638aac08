#include "records/resultsdb.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QUrl>
#include <QUuid>
#include <QVariant>

namespace {
bool fail(QString* error, const QString& text) {
    if (error)
        *error = text;
    return false;
}

QString quoted(QString text) {
    // A cell a spreadsheet would take for a formula is kept as text.
    if (!text.isEmpty() && QStringLiteral("=+-@").contains(text.front()))
        text.prepend(QLatin1Char('\''));
    if (text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"')) ||
        text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r')))
        return QLatin1Char('"') + text.replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
               QLatin1Char('"');
    return text;
}
} // namespace

QString IsoUtc(const QDateTime& t) {
    return t.toUTC().toString(Qt::ISODateWithMs);
}

ResultsDatabase::ResultsDatabase()
    : connection_(QStringLiteral("t83results-") + QUuid::createUuid().toString(QUuid::Id128)) {}

ResultsDatabase::~ResultsDatabase() {
    {
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        if (db.isValid())
            db.close();
    }
    QSqlDatabase::removeDatabase(connection_);
}

QString ResultsDatabase::defaultPath() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation))
        .filePath(QStringLiteral("results.sqlite"));
}

bool ResultsDatabase::isOpen() const {
    return QSqlDatabase::database(connection_, false).isOpen();
}

bool ResultsDatabase::open(const QString& url, QString* error, const QString& path,
                           const QString& password) {
    if (url.isEmpty()) {
        const QString file = path.isEmpty() ? defaultPath() : path;
        if (!QDir().mkpath(QFileInfo(file).absolutePath()))
            return fail(error,
                        QStringLiteral("无法创建文件夹 %1").arg(QFileInfo(file).absolutePath()));
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
        if (!db.isValid())
            return fail(error, QStringLiteral("没有 SQLite 数据库驱动(libqt6sql6-sqlite)"));
        db.setDatabaseName(file);
        if (!db.open())
            return fail(
                error, QStringLiteral("无法打开记录数据库 %1:%2").arg(file, db.lastError().text()));
        QSqlQuery q(db);
        // Every commit is on disk before it returns; readers do not block the writer.
        if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) ||
            !q.exec(QStringLiteral("PRAGMA synchronous=FULL")) ||
            !q.exec(QStringLiteral("PRAGMA busy_timeout=5000")))
            return fail(error,
                        QStringLiteral("无法设置记录数据库 %1:%2").arg(file, q.lastError().text()));
        where_ = file;
    } else {
        const QUrl u(url);
        if (!u.isValid() ||
            (u.scheme() != QLatin1String("postgresql") && u.scheme() != QLatin1String("postgres")))
            return fail(error, QStringLiteral("记录数据库地址无效: %1")
                                   .arg(u.toDisplayString(QUrl::RemovePassword)));
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection_);
        if (!db.isValid())
            return fail(error, QStringLiteral("没有 PostgreSQL 数据库驱动(libqt6sql6-psql)"));
        db.setHostName(u.host());
        if (u.port() > 0)
            db.setPort(u.port());
        db.setUserName(u.userName());
        db.setPassword(!password.isEmpty()       ? password
                       : !u.password().isEmpty() ? u.password(QUrl::FullyDecoded)
                                                 : qEnvironmentVariable("PGPASSWORD"));
        db.setDatabaseName(u.path().mid(1));
        db.setConnectOptions(QStringLiteral("connect_timeout=5"));
        if (!db.open())
            return fail(error,
                        QStringLiteral("无法连接记录数据库服务器 %1:%2")
                            .arg(u.toDisplayString(QUrl::RemovePassword), db.lastError().text()));
        postgres_ = true;
        where_ = u.toDisplayString(QUrl::RemovePassword);
    }
    return createTables(error);
}

bool ResultsDatabase::createTables(QString* error) {
    QSqlDatabase db = QSqlDatabase::database(connection_);
    const QString id = postgres_ ? QStringLiteral("BIGSERIAL PRIMARY KEY")
                                 : QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT");
    const QString statements[] = {
        QStringLiteral("CREATE TABLE IF NOT EXISTS runs (id %1, started_at TEXT NOT NULL, "
                       "finished_at TEXT NOT NULL, station TEXT, operator TEXT, lot TEXT, "
                       "serial TEXT, port TEXT, device TEXT, profile_name TEXT, "
                       "profile_sha256 TEXT, result TEXT NOT NULL, reason TEXT, "
                       "duration_ms BIGINT)")
            .arg(id),
        QStringLiteral("CREATE TABLE IF NOT EXISTS fields (run_id BIGINT NOT NULL REFERENCES "
                       "runs(id), field TEXT NOT NULL, expected TEXT, \"before\" TEXT, "
                       "\"after\" TEXT, ok INTEGER NOT NULL)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS fields_run ON fields(run_id)"),
        QStringLiteral(
            "CREATE TABLE IF NOT EXISTS linktests (id %1, started_at TEXT NOT NULL, "
            "finished_at TEXT NOT NULL, station TEXT, port TEXT, role TEXT NOT NULL, "
            "echo INTEGER NOT NULL, local_settings TEXT, peer_settings TEXT, count INTEGER, "
            "size INTEGER, interval_ms DOUBLE PRECISION, sent INTEGER, received INTEGER, "
            "corrupted INTEGER, lost INTEGER, duplicated INTEGER, out_of_order INTEGER, "
            "stray_bytes BIGINT, per DOUBLE PRECISION, rtt_min_ms DOUBLE PRECISION, "
            "rtt_mean_ms DOUBLE PRECISION, rtt_max_ms DOUBLE PRECISION, "
            "max_per DOUBLE PRECISION, result TEXT NOT NULL, cut_short INTEGER NOT NULL, "
            "reason TEXT)")
            .arg(id),
        QStringLiteral("CREATE INDEX IF NOT EXISTS linktests_started ON linktests(started_at)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS runs_started ON runs(started_at)"),
    };
    QSqlQuery q(db);
    for (const QString& sql : statements)
        if (!q.exec(sql))
            return fail(error, QStringLiteral("无法建立记录表:%1").arg(q.lastError().text()));
    return true;
}

std::optional<qint64> ResultsDatabase::record(const RunRecord& run, QString* error) {
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    if (!db.isOpen()) {
        fail(error, QStringLiteral("记录数据库没有打开"));
        return std::nullopt;
    }
    const auto rollback = [&](const QSqlQuery& q) -> std::optional<qint64> {
        const QString why = q.lastError().text();
        db.rollback();
        fail(error, QStringLiteral("无法保存测试记录:%1").arg(why));
        return std::nullopt;
    };
    if (!db.transaction()) {
        fail(error, QStringLiteral("无法保存测试记录:%1").arg(db.lastError().text()));
        return std::nullopt;
    }
    QSqlQuery q(db);
    q.prepare(QStringLiteral(
        "INSERT INTO runs (started_at, finished_at, station, operator, lot, serial, port, device, "
        "profile_name, profile_sha256, result, reason, duration_ms) "
        "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING id"));
    const RunResult& r = run.result;
    for (const QVariant& v :
         {QVariant(IsoUtc(r.startedAt)), QVariant(IsoUtc(r.finishedAt)), QVariant(run.station),
          QVariant(run.operatorName), QVariant(run.lot), QVariant(run.serial), QVariant(run.port),
          QVariant(run.device), QVariant(run.profileName), QVariant(run.profileSha256),
          QVariant(r.pass ? QStringLiteral("PASS") : QStringLiteral("FAIL")), QVariant(r.reason),
          QVariant(r.durationMs)})
        q.addBindValue(v);
    if (!q.exec() || !q.next())
        return rollback(q);
    const qint64 id = q.value(0).toLongLong();
    q.finish();
    QSqlQuery f(db);
    f.prepare(
        QStringLiteral("INSERT INTO fields (run_id, field, expected, \"before\", \"after\", ok) "
                       "VALUES (?, ?, ?, ?, ?, ?)"));
    for (const RunField& field : r.fields) {
        for (const QVariant& v :
             {QVariant(id), QVariant(field.field), QVariant(field.expected), QVariant(field.before),
              QVariant(field.after), QVariant(field.ok ? 1 : 0)})
            f.addBindValue(v);
        if (!f.exec())
            return rollback(f);
    }
    if (!db.commit()) {
        fail(error, QStringLiteral("无法保存测试记录:%1").arg(db.lastError().text()));
        db.rollback();
        return std::nullopt;
    }
    return id;
}

namespace {
const char* roleName(LinkTestRole role) {
    switch (role) {
    case LinkTestRole::Send:
        return "send";
    case LinkTestRole::Receive:
        return "receive";
    case LinkTestRole::Echo:
        return "echo";
    }
    return "send";
}

QVariant optionalDouble(const std::optional<double>& v) {
    return v ? QVariant(*v) : QVariant(QMetaType(QMetaType::Double));
}
} // namespace

std::optional<qint64> ResultsDatabase::recordLinkTest(const LinkTestRecord& test, QString* error) {
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    if (!db.isOpen()) {
        fail(error, QStringLiteral("记录数据库没有打开"));
        return std::nullopt;
    }
    const LinkTestResult& r = test.result;
    // A sender that hears nothing back has no counts of its own.
    const bool counted = r.verdict != LinkTestResult::Verdict::None;
    const auto count = [counted](qint64 v) {
        return counted ? QVariant(v) : QVariant(QMetaType(QMetaType::LongLong));
    };
    const auto text = [](const QString& v) {
        return v.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(v);
    };
    QSqlQuery q(db);
    q.prepare(QStringLiteral(
        "INSERT INTO linktests (started_at, finished_at, station, port, role, echo, "
        "local_settings, peer_settings, count, size, interval_ms, sent, received, corrupted, "
        "lost, duplicated, out_of_order, stray_bytes, per, rtt_min_ms, rtt_mean_ms, "
        "rtt_max_ms, max_per, result, cut_short, reason) "
        "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
        "RETURNING id"));
    for (const QVariant& v : {QVariant(IsoUtc(r.startedAt)),
                              QVariant(IsoUtc(r.finishedAt)),
                              QVariant(test.station),
                              QVariant(test.port),
                              QVariant(QString::fromLatin1(roleName(r.role))),
                              QVariant(r.echo ? 1 : 0),
                              text(test.localSettings),
                              text(test.peerSettings),
                              QVariant(r.count),
                              QVariant(r.size),
                              QVariant(r.intervalMs),
                              QVariant(r.sent),
                              count(r.received),
                              count(r.corrupted),
                              count(r.lost),
                              count(r.duplicated),
                              count(r.outOfOrder),
                              QVariant(r.strayBytes),
                              counted ? QVariant(r.per) : QVariant(QMetaType(QMetaType::Double)),
                              optionalDouble(r.rttMinMs),
                              optionalDouble(r.rttMeanMs),
                              optionalDouble(r.rttMaxMs),
                              QVariant(r.maxPerPercent),
                              QVariant(r.verdictText()),
                              QVariant(r.cutShort ? 1 : 0),
                              text(r.cutReason)})
        q.addBindValue(v);
    if (!q.exec() || !q.next()) {
        fail(error, QStringLiteral("无法保存测试记录:%1").arg(q.lastError().text()));
        return std::nullopt;
    }
    return q.value(0).toLongLong();
}

QList<LinkTestRecord> ResultsDatabase::linkTests(QString* error) const {
    QList<LinkTestRecord> out;
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral(
            "SELECT id, started_at, finished_at, station, port, role, echo, local_settings, "
            "peer_settings, count, size, interval_ms, sent, received, corrupted, lost, "
            "duplicated, out_of_order, stray_bytes, per, rtt_min_ms, rtt_mean_ms, rtt_max_ms, "
            "max_per, result, cut_short, reason FROM linktests "
            "ORDER BY started_at DESC, id DESC"))) {
        fail(error, q.lastError().text());
        return out;
    }
    const auto optional = [&q](int i) -> std::optional<double> {
        return q.value(i).isNull() ? std::nullopt : std::optional<double>(q.value(i).toDouble());
    };
    while (q.next()) {
        LinkTestRecord t;
        LinkTestResult& r = t.result;
        t.id = q.value(0).toLongLong();
        r.startedAt = QDateTime::fromString(q.value(1).toString(), Qt::ISODateWithMs);
        r.finishedAt = QDateTime::fromString(q.value(2).toString(), Qt::ISODateWithMs);
        t.station = q.value(3).toString();
        t.port = q.value(4).toString();
        const QString role = q.value(5).toString();
        r.role = role == QLatin1String("receive") ? LinkTestRole::Receive
                 : role == QLatin1String("echo")  ? LinkTestRole::Echo
                                                  : LinkTestRole::Send;
        r.echo = q.value(6).toInt() != 0;
        t.localSettings = q.value(7).toString();
        t.peerSettings = q.value(8).toString();
        r.count = q.value(9).toInt();
        r.size = q.value(10).toInt();
        r.intervalMs = q.value(11).toDouble();
        r.sent = q.value(12).toInt();
        r.received = q.value(13).toInt();
        r.corrupted = q.value(14).toInt();
        r.lost = q.value(15).toInt();
        r.duplicated = q.value(16).toInt();
        r.outOfOrder = q.value(17).toInt();
        r.strayBytes = q.value(18).toLongLong();
        r.per = q.value(19).toDouble();
        r.rttMinMs = optional(20);
        r.rttMeanMs = optional(21);
        r.rttMaxMs = optional(22);
        r.maxPerPercent = q.value(23).toDouble();
        const QString result = q.value(24).toString();
        r.verdict = result == QLatin1String("PASS")   ? LinkTestResult::Verdict::Pass
                    : result == QLatin1String("FAIL") ? LinkTestResult::Verdict::Fail
                                                      : LinkTestResult::Verdict::None;
        r.cutShort = q.value(25).toInt() != 0;
        r.cutReason = q.value(26).toString();
        out.append(t);
    }
    return out;
}

QList<RunRecord> ResultsDatabase::runs(const RunFilter& filter, QString* error) const {
    QList<RunRecord> out;
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    QString where = QStringLiteral(" WHERE 1=1");
    QVariantList values;
    if (filter.from.isValid()) {
        where += QStringLiteral(" AND started_at >= ?");
        values << IsoUtc(filter.from.startOfDay());
    }
    if (filter.to.isValid()) {
        where += QStringLiteral(" AND started_at < ?");
        values << IsoUtc(filter.to.addDays(1).startOfDay());
    }
    if (!filter.lot.isEmpty()) {
        where += QStringLiteral(" AND lot = ?");
        values << filter.lot;
    }
    if (!filter.serial.isEmpty()) {
        where += QStringLiteral(" AND serial = ?");
        values << filter.serial;
    }
    if (filter.pass) {
        where += QStringLiteral(" AND result = ?");
        values << (*filter.pass ? QStringLiteral("PASS") : QStringLiteral("FAIL"));
    }
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT id, started_at, finished_at, station, operator, lot, serial, "
                             "port, device, profile_name, profile_sha256, result, reason, "
                             "duration_ms FROM runs") +
              where + QStringLiteral(" ORDER BY started_at DESC, id DESC"));
    for (const QVariant& v : values)
        q.addBindValue(v);
    if (!q.exec()) {
        fail(error, q.lastError().text());
        return out;
    }
    while (q.next()) {
        RunRecord r;
        r.id = q.value(0).toLongLong();
        r.result.startedAt = QDateTime::fromString(q.value(1).toString(), Qt::ISODateWithMs);
        r.result.finishedAt = QDateTime::fromString(q.value(2).toString(), Qt::ISODateWithMs);
        r.station = q.value(3).toString();
        r.operatorName = q.value(4).toString();
        r.lot = q.value(5).toString();
        r.serial = q.value(6).toString();
        r.port = q.value(7).toString();
        r.device = q.value(8).toString();
        r.profileName = q.value(9).toString();
        r.profileSha256 = q.value(10).toString();
        r.result.pass = q.value(11).toString() == QLatin1String("PASS");
        r.result.reason = q.value(12).toString();
        r.result.durationMs = q.value(13).toLongLong();
        out.append(r);
    }
    QSqlQuery f(db);
    f.prepare(QStringLiteral("SELECT field, expected, \"before\", \"after\", ok FROM fields "
                             "WHERE run_id = ? ORDER BY rowid"));
    if (QSqlDatabase::database(connection_).driverName() == QLatin1String("QPSQL"))
        f.prepare(QStringLiteral("SELECT field, expected, \"before\", \"after\", ok FROM fields "
                                 "WHERE run_id = ? ORDER BY ctid"));
    for (RunRecord& r : out) {
        f.addBindValue(r.id);
        if (!f.exec())
            continue;
        while (f.next())
            r.result.fields.append({f.value(0).toString(), f.value(1).toString(),
                                    f.value(2).toString(), f.value(3).toString(),
                                    f.value(4).toInt() != 0});
    }
    return out;
}

QByteArray ResultsDatabase::exportCsv(const RunFilter& filter, QString* error) const {
    QList<RunRecord> list = runs(filter, error);
    std::reverse(list.begin(), list.end());
    QStringList fieldNames;
    for (const RunRecord& r : list)
        for (const RunField& f : r.result.fields)
            if (!fieldNames.contains(f.field))
                fieldNames << f.field;
    QStringList header{QStringLiteral("id"),
                       QStringLiteral("started_at"),
                       QStringLiteral("finished_at"),
                       QStringLiteral("station"),
                       QStringLiteral("operator"),
                       QStringLiteral("lot"),
                       QStringLiteral("serial"),
                       QStringLiteral("port"),
                       QStringLiteral("device"),
                       QStringLiteral("profile_name"),
                       QStringLiteral("profile_sha256"),
                       QStringLiteral("result"),
                       QStringLiteral("reason"),
                       QStringLiteral("duration_ms")};
    for (const QString& name : fieldNames)
        header << name + QStringLiteral(".expected") << name + QStringLiteral(".after")
               << name + QStringLiteral(".ok");
    QString text = header.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    for (const RunRecord& r : list) {
        QStringList cells{QString::number(r.id),
                          IsoUtc(r.result.startedAt),
                          IsoUtc(r.result.finishedAt),
                          r.station,
                          r.operatorName,
                          r.lot,
                          r.serial,
                          r.port,
                          r.device,
                          r.profileName,
                          r.profileSha256,
                          r.result.pass ? QStringLiteral("PASS") : QStringLiteral("FAIL"),
                          r.result.reason,
                          QString::number(r.result.durationMs)};
        for (const QString& name : fieldNames) {
            const auto it = std::find_if(r.result.fields.cbegin(), r.result.fields.cend(),
                                         [&](const RunField& f) { return f.field == name; });
            if (it == r.result.fields.cend())
                cells << QString() << QString() << QString();
            else
                cells << it->expected << it->after
                      << (it->ok ? QStringLiteral("1") : QStringLiteral("0"));
        }
        for (QString& c : cells)
            c = quoted(c);
        text += cells.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}
