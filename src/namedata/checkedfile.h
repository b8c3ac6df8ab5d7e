// Every file the programs write goes through CheckedFileWriter: each write is checked, the size
// that reached the file is checked, and only then does the new file take the place of the old
// one. A write that fails anywhere (a full disk, a quota, a file-size limit) leaves the previous
// file byte for byte as it was and no temporary file behind, and says why.
//
//     CheckedFileWriter file(path);
//     if (!file.open() || !file.write(bytes) || !file.commit())
//         report(file.failure());
//
// A regular file (or a new name) is written as a hidden file beside the target, flushed to the
// disk and renamed over it; a symbolic link is followed, so the file it names is replaced and
// the link stays. A FIFO or a character device (/dev/stdout, a terminal, /dev/null) is written
// in place: it cannot be replaced, and replacing it would surprise whoever reads it. A block
// device, a folder or anything else is refused.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace ridelog {

enum class WriteFault
{
    None,
    NoSpace,       // ENOSPC, EDQUOT
    TooLarge,      // EFBIG: beyond the file-size limit
    NoPermission,  // EACCES, EPERM, or a target whose permission bits allow no writing
    ReadOnlyFiles, // EROFS
    NoFolder,      // ENOENT, ENOTDIR: the folder does not exist
    IsFolder,      // the name is that of a folder
    NotAFile,      // a block device, a socket: nothing the program writes a file onto
    ShortWrite,    // the file on disk is shorter than what was written
    InputOutput,   // EIO and every other failure of the system
};

struct WriteFailure
{
    WriteFault fault = WriteFault::None;
    int systemError = 0; // errno, 0 when the check found the fault
    QString path;        // the file as named by the caller

    // A short English reason, e.g. "no space left on the device".
    QString reason() const;
    // "PATH: reason", for logs and the command line.
    QString describe() const;
};

// The fault that an errno value stands for.
WriteFault writeFaultOfErrno(int systemError);

class CheckedFileWriter
{
public:
    explicit CheckedFileWriter(QString path);
    // A file that was not committed is discarded: its temporary file is removed.
    ~CheckedFileWriter();
    CheckedFileWriter(const CheckedFileWriter&) = delete;
    CheckedFileWriter& operator=(const CheckedFileWriter&) = delete;

    bool open();
    // Writes every byte or fails; a failed writer refuses every further write.
    bool write(QByteArrayView bytes);
    // Flushes to the disk, checks the size and puts the file in place.
    bool commit();
    // Drops what was written; the target stays as it was.
    void discard();

    bool isOpen() const { return fd_ >= 0; }
    bool writesInPlace() const { return inPlace_; }
    const WriteFailure& failure() const { return failure_; }
    qint64 bytesWritten() const { return written_; }

private:
    bool fail(WriteFault fault, int systemError);
    bool failWithErrno();
    bool openInPlace();
    bool openTemporary();
    void removeTemporary();

    QString path_;
    QByteArray target_; // the file to replace or write into, links resolved
    QByteArray temporary_;
    int fd_ = -1;
    bool inPlace_ = false;
    qint64 written_ = 0;
    WriteFailure failure_;
};

// The whole file in one call; failure (may be null) says why it was not written.
bool writeFileChecked(const QString& path, QByteArrayView bytes, WriteFailure* failure);

// Writes every byte to an open descriptor (standard output); false with errno kept.
bool writeAllToDescriptor(int fd, QByteArrayView bytes);

} // namespace ridelog
