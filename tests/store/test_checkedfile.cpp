// The one way files are written: whole or not at all, the previous file kept byte for byte,
// and the reason of a failure told.
#include "namedata/checkedfile.h"
#include "support/filesizelimit.h"
#include "support/smallfilesystem.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <optional>
#include <sys/stat.h>
#include <thread>

using namespace ridelog;
using ridelog::test::fileBytes;
using ridelog::test::FileSizeLimit;
using ridelog::test::SmallFileSystem;

Q_DECLARE_METATYPE(ridelog::WriteFault)

namespace {

bool putFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QStringList namesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

// An export of a long history: a few hundred lines, more than a few KiB.
QByteArray longExport()
{
    QByteArray bytes;
    for (int i = 0; i < 600; ++i)
        bytes += QByteArray::number(1000 - i) + ",2024/05/01,改札機,運賃支払,ＪＲ東 山手 渋谷,"
                                                "ＪＲ東 山手 新宿,-160\r\n";
    return bytes;
}

} // namespace

class TestCheckedFile : public QObject
{
    Q_OBJECT

private slots:
    void targets_data()
    {
        QTest::addColumn<QString>("setup"); // what stands at the name before the write
        QTest::addColumn<bool>("written");
        QTest::addColumn<WriteFault>("fault");
        QTest::newRow("new file") << "none" << true << WriteFault::None;
        QTest::newRow("older longer file") << "file" << true << WriteFault::None;
        QTest::newRow("read-only file") << "read-only" << false << WriteFault::NoPermission;
        QTest::newRow("missing folder") << "no folder" << false << WriteFault::NoFolder;
        QTest::newRow("folder of that name") << "folder" << false << WriteFault::IsFolder;
    }

    void targets()
    {
        QFETCH(QString, setup);
        QFETCH(bool, written);
        QFETCH(WriteFault, fault);
        QTemporaryDir dir;
        QString path = dir.filePath(QStringLiteral("history.csv"));
        const QByteArray old("an older and longer export\r\n");
        if (setup == u"file" || setup == u"read-only")
            QVERIFY(putFile(path, old));
        if (setup == u"read-only")
            QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup));
        if (setup == u"no folder")
            path = dir.filePath(QStringLiteral("gone/history.csv"));
        if (setup == u"folder")
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("history.csv")));

        WriteFailure failure;
        QCOMPARE(writeFileChecked(path, QByteArray("new\r\n"), &failure), written);
        QCOMPARE(failure.fault, fault);
        QCOMPARE(failure.path, path);
        if (written)
            QCOMPARE(fileBytes(path), QByteArray("new\r\n"));
        else if (setup == u"read-only")
            QCOMPARE(fileBytes(path), old);
        else
            QVERIFY(!QFileInfo(path).isFile());
        // Nothing but the target itself, never a temporary file.
        const QStringList expected = setup == u"none" || setup == u"file" || setup == u"read-only"
                                         ? QStringList{QStringLiteral("history.csv")}
                                         : QStringList{};
        QCOMPARE(namesIn(dir.path()), expected);
    }

    void replacedFileKeepsPermissionsAndLink()
    {
        QTemporaryDir dir;
        const QString real = dir.filePath(QStringLiteral("real.txt"));
        const QString link = dir.filePath(QStringLiteral("link.txt"));
        QVERIFY(putFile(real, "old\n"));
        QVERIFY(
            QFile::setPermissions(real, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
        QVERIFY(QFile::link(real, link));

        QVERIFY(writeFileChecked(link, QByteArray("new\n"), nullptr));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(fileBytes(real), QByteArray("new\n"));
        struct stat info = {};
        QCOMPARE(::stat(QFile::encodeName(real).constData(), &info), 0);
        QCOMPARE(info.st_mode & 07777, mode_t(0604));
    }

    void failedWriteKeepsPreviousFile_data()
    {
        QTest::addColumn<qint64>("leftFree"); // on a small disk of its own; -1: a file-size limit
        QTest::addColumn<WriteFault>("fault");
        QTest::newRow("100 % full") << qint64(0) << WriteFault::NoSpace;
        QTest::newRow("4 KiB left") << qint64(4096) << WriteFault::NoSpace;
        QTest::newRow("12 KiB left") << qint64(12 * 1024) << WriteFault::NoSpace;
        QTest::newRow("file-size limit") << qint64(-1) << WriteFault::TooLarge;
    }

    void failedWriteKeepsPreviousFile()
    {
        QFETCH(qint64, leftFree);
        QFETCH(WriteFault, fault);
        SmallFileSystem disk(256 * 1024);
        if (leftFree >= 0 && !disk.isMounted())
            QSKIP(qPrintable(disk.whyNotMounted()));
        const QString path = disk.filePath(QStringLiteral("history.csv"));
        const QByteArray old("the previous export\r\n");
        QVERIFY(putFile(path, old));
        QStringList names{QStringLiteral("history.csv")};
        std::optional<FileSizeLimit> limit;
        if (leftFree >= 0) {
            QVERIFY(disk.fillLeaving(leftFree));
            names.prepend(QStringLiteral("filler"));
        } else if (!limit.emplace(4096).isLowered()) {
            QSKIP("the file-size limit cannot be lowered here");
        }

        WriteFailure failure;
        const bool written = writeFileChecked(path, longExport(), &failure);
        limit.reset();
        QVERIFY(!written);
        QCOMPARE(failure.fault, fault);
        if (fault == WriteFault::NoSpace)
            QVERIFY(failure.describe().contains(QStringLiteral("no space left")));
        QCOMPARE(fileBytes(path), old);
        QCOMPARE(namesIn(disk.path()), names);
        // Small enough for what is left: it is written.
        if (leftFree > 4096)
            QVERIFY(writeFileChecked(path, QByteArray("short\r\n"), nullptr));
    }

    void fifoIsWrittenInPlace()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("pipe"));
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        QByteArray received;
        std::thread reader([&] {
            QFile fifo(path);
            if (fifo.open(QIODevice::ReadOnly))
                received = fifo.readAll();
        });
        const QByteArray bytes = longExport();
        WriteFailure failure;
        const bool written = writeFileChecked(path, bytes, &failure);
        reader.join();
        QVERIFY2(written, qPrintable(failure.describe()));
        QCOMPARE(received, bytes);
        struct stat info = {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
        QVERIFY(S_ISFIFO(info.st_mode));
    }

    void deviceFullSaysNoSpace()
    {
        if (!QFileInfo::exists(QStringLiteral("/dev/full")))
            QSKIP("no /dev/full here");
        WriteFailure failure;
        QVERIFY(!writeFileChecked(QStringLiteral("/dev/full"), QByteArray("x\n"), &failure));
        QCOMPARE(failure.fault, WriteFault::NoSpace);
        QCOMPARE(failure.describe(), QStringLiteral("/dev/full: no space left on the device"));
        // A character device is written, not replaced.
        QVERIFY(writeFileChecked(QStringLiteral("/dev/null"), QByteArray("x\n"), nullptr));
        QVERIFY(!QFileInfo(QStringLiteral("/dev/null")).isFile());
    }

    void discardedWriterLeavesNothing()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("trace.txt"));
        QVERIFY(putFile(path, "previous trace\n"));
        {
            CheckedFileWriter file(path);
            QVERIFY(file.open());
            QVERIFY(file.write("12.0 r > usb 00\n"));
            QCOMPARE(namesIn(dir.path()).size(), 2); // the target and the file being written
        }
        QCOMPARE(fileBytes(path), QByteArray("previous trace\n"));
        QCOMPARE(namesIn(dir.path()), QStringList{QStringLiteral("trace.txt")});
    }
};

QTEST_GUILESS_MAIN(TestCheckedFile)
#include "test_checkedfile.moc"
