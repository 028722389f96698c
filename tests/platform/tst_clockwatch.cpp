#include "platform/linux/LinuxClockWatch.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <vector>

Q_DECLARE_METATYPE(ClockChange)

namespace {

constexpr int kWaitMs = 10000;

// A zone database and an etc folder in a temporary folder, so the zone can be changed as the
// system's tools change it: a new symbolic link renamed over the old one.
class ZoneFolders final
{
public:
    ZoneFolders()
    {
        QDir root(m_dir.path());
        root.mkpath(QStringLiteral("etc"));
        root.mkpath(QStringLiteral("zoneinfo/Europe"));
        root.mkpath(QStringLiteral("zoneinfo/Asia"));
        WriteFileBytes(zone(QStringLiteral("Europe/Alpha")), "TZif alpha");
        WriteFileBytes(zone(QStringLiteral("Europe/Beta")), "TZif beta");
        WriteFileBytes(zone(QStringLiteral("Asia/Gamma")), "TZif gamma");
        pointTo(QStringLiteral("Europe/Alpha"));
    }
    bool valid() const { return m_dir.isValid(); }
    QString localtime() const { return m_dir.filePath(QStringLiteral("etc/localtime")); }
    QString etc(const QString& name) const { return m_dir.filePath(QStringLiteral("etc/") + name); }
    QString zone(const QString& name) const { return m_dir.filePath(QStringLiteral("zoneinfo/") + name); }

    void pointTo(const QString& zoneName) const
    {
        const QString temporary = etc(QStringLiteral(".localtime.new"));
        QFile::remove(temporary);
        QVERIFY(QFile::link(zone(zoneName), temporary));
        QVERIFY(::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(localtime()).constData()) == 0);
    }
    void replaceFile(const QString& path, const QByteArray& bytes) const
    {
        const QString temporary = path + QStringLiteral(".new");
        WriteFileBytes(temporary, bytes);
        QVERIFY(::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path).constData()) == 0);
    }

private:
    QTemporaryDir m_dir;
};

// inotify queues its events during the file-system call itself, so one pass of the event loop hands
// everything done so far to the watch.
void DeliverPendingEvents()
{
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

struct Notices {
    std::vector<ClockChange> changes;
    bool onMainThread = true;
    std::function<void(ClockChange)> callback()
    {
        return [this](ClockChange change) {
            changes.push_back(change);
            onMainThread = onMainThread && QThread::currentThread() == QCoreApplication::instance()->thread();
        };
    }
};

} // namespace

class TestClockWatch : public QObject
{
    Q_OBJECT

private slots:
    void watchesTheSystemClockAndZone();
    void pointingTheZoneLinkElsewhereIsAZoneChange();
    void otherFilesBesideTheZoneFileAreIgnored();
    void replacingTheLinkWithAnIdenticalOneIsNoChange();
    void updatingTheZoneDataIsAZoneChange();
    void theNewTargetFolderIsWatchedAfterAChange();
    void aPlainZoneFileBeingRewrittenIsAZoneChange();
};

void TestClockWatch::watchesTheSystemClockAndZone()
{
    Notices notices;
    const auto watch = LinuxClockWatch::Create(notices.callback());
    QVERIFY(watch);
}

void TestClockWatch::pointingTheZoneLinkElsewhereIsAZoneChange()
{
    ZoneFolders folders;
    QVERIFY(folders.valid());
    Notices notices;
    const auto watch = LinuxClockWatch::Create(notices.callback(), QFile::encodeName(folders.localtime()));
    QVERIFY(watch);
    folders.pointTo(QStringLiteral("Europe/Beta"));
    QTRY_COMPARE_WITH_TIMEOUT(notices.changes.size(), size_t(1), kWaitMs);
    QCOMPARE(notices.changes.front(), ClockChange::ZoneChanged);
    QVERIFY(notices.onMainThread);
    DeliverPendingEvents();
    QCOMPARE(notices.changes.size(), size_t(1));
}

void TestClockWatch::otherFilesBesideTheZoneFileAreIgnored()
{
    ZoneFolders folders;
    QVERIFY(folders.valid());
    Notices notices;
    const auto watch = LinuxClockWatch::Create(notices.callback(), QFile::encodeName(folders.localtime()));
    QVERIFY(watch);
    WriteFileBytes(folders.etc(QStringLiteral("hostname")), "lark");
    folders.replaceFile(folders.etc(QStringLiteral("resolv.conf")), "nameserver 127.0.0.1");
    WriteFileBytes(folders.zone(QStringLiteral("Europe/Delta")), "TZif delta");
    DeliverPendingEvents();
    QCOMPARE(notices.changes.size(), size_t(0));
    // The watch is still alive and listening.
    folders.pointTo(QStringLiteral("Europe/Beta"));
    QTRY_COMPARE_WITH_TIMEOUT(notices.changes.size(), size_t(1), kWaitMs);
}

void TestClockWatch::replacingTheLinkWithAnIdenticalOneIsNoChange()
{
    ZoneFolders folders;
    QVERIFY(folders.valid());
    Notices notices;
    const auto watch = LinuxClockWatch::Create(notices.callback(), QFile::encodeName(folders.localtime()));
    QVERIFY(watch);
    folders.pointTo(QStringLiteral("Europe/Alpha"));
    DeliverPendingEvents();
    QCOMPARE(notices.changes.size(), size_t(0));
    folders.pointTo(QStringLiteral("Asia/Gamma"));
    QTRY_COMPARE_WITH_TIMEOUT(notices.changes.size(), size_t(1), kWaitMs);
}

void TestClockWatch::updatingTheZoneDataIsAZoneChange()
{
    ZoneFolders folders;
    QVERIFY(folders.valid());
    Notices notices;
    const auto watch = LinuxClockWatch::Create(notices.callback(), QFile::encodeName(folders.localtime()));
    QVERIFY(watch);
    // A zone database update replaces the file the link points to, with new rules.
    folders.replaceFile(folders.zone(QStringLiteral("Europe/Alpha")), "TZif alpha, new rules");
    QTRY_COMPARE_WITH_TIMEOUT(notices.changes.size(), size_t(1), kWaitMs);
    QCOMPARE(notices.changes.front(), ClockChange::ZoneChanged);
}

void TestClockWatch::theNewTargetFolderIsWatchedAfterAChange()
{
    ZoneFolders folders;
    QVERIFY(folders.valid());
    Notices notices;
    const auto watch = LinuxClockWatch::Create(notices.callback(), QFile::encodeName(folders.localtime()));
    QVERIFY(watch);
    folders.pointTo(QStringLiteral("Asia/Gamma"));
    QTRY_COMPARE_WITH_TIMEOUT(notices.changes.size(), size_t(1), kWaitMs);
    folders.replaceFile(folders.zone(QStringLiteral("Asia/Gamma")), "TZif gamma, new rules");
    QTRY_COMPARE_WITH_TIMEOUT(notices.changes.size(), size_t(2), kWaitMs);
}

void TestClockWatch::aPlainZoneFileBeingRewrittenIsAZoneChange()
{
    ZoneFolders folders;
    QVERIFY(folders.valid());
    QVERIFY(QFile::remove(folders.localtime()));
    WriteFileBytes(folders.localtime(), "TZif copied alpha");
    Notices notices;
    const auto watch = LinuxClockWatch::Create(notices.callback(), QFile::encodeName(folders.localtime()));
    QVERIFY(watch);
    WriteFileBytes(folders.localtime(), "TZif copied beta, a different size");
    QTRY_COMPARE_WITH_TIMEOUT(notices.changes.size(), size_t(1), kWaitMs);
    QCOMPARE(notices.changes.front(), ClockChange::ZoneChanged);
}

QTEST_GUILESS_MAIN(TestClockWatch)
#include "tst_clockwatch.moc"
