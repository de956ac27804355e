// The file-I/O layer: reads and writes that survive signals and short transfers, opening that
// never waits on a FIFO, the copy's two ends and the digest of a known file.
#include "file_io.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <thread>

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<int> interruptions { 0 };

void countInterruption(int)
{
    ++interruptions;
}

// A pipe of the smallest capacity, and a handler of SIGUSR1 installed without SA_RESTART for
// as long as the object lives, so that a signal breaks off a blocked read or write.
class InterruptiblePipe
{
public:
    InterruptiblePipe()
    {
        EXPECT_EQ(::pipe(ends), 0);
        ::fcntl(ends[1], F_SETPIPE_SZ, 4096);
        struct sigaction action
        {
        };
        action.sa_handler = countInterruption;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGUSR1, &action, &previous);
        interruptions = 0;
    }
    ~InterruptiblePipe()
    {
        ::close(ends[0]);
        ::close(ends[1]);
        ::sigaction(SIGUSR1, &previous, nullptr);
    }
    int readEnd() const { return ends[0]; }
    int writeEnd() const { return ends[1]; }

private:
    int ends[2] = { -1, -1 };
    struct sigaction previous
    {
    };
};

QByteArray pattern(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char(i * 7 + i / 251);
    return bytes;
}

} // namespace

TEST(FileIo, WriteAllAndReadFull_SignalsAndShortTransfersLoseNoByte)
{
    const QByteArray sent = pattern(1 << 20);
    QByteArray received(sent.size(), '\0');
    {
        InterruptiblePipe pipe;
        const pthread_t writerThread = pthread_self();
        // The reader takes small pieces slowly and interrupts the blocked writer meanwhile, so the
        // writes come back short or with EINTR.
        std::thread reader([&] {
            ssize_t done = 0;
            while (done < received.size()) {
                pthread_kill(writerThread, SIGUSR1);
                ::usleep(200);
                const ssize_t count = ::read(
                    pipe.readEnd(), received.data() + done, size_t(received.size() - done));
                if (count <= 0)
                    break;
                done += count;
            }
        });
        EXPECT_TRUE(hix::io::writeAll(pipe.writeEnd(), sent.constData(), size_t(sent.size())));
        reader.join();
        EXPECT_GT(interruptions.load(), 0);
    }
    EXPECT_EQ(received, sent);

    // And the other way round: the reader is interrupted while it waits for the next piece.
    InterruptiblePipe pipe;
    const pthread_t readerThread = pthread_self();
    std::thread writer([&] {
        for (int offset = 0; offset < 64 * 1024; offset += 1000) {
            pthread_kill(readerThread, SIGUSR1);
            ::usleep(300);
            const int size = std::min(1000, 64 * 1024 - offset);
            ASSERT_TRUE(
                hix::io::writeAll(pipe.writeEnd(), sent.constData() + offset, size_t(size)));
        }
    });
    QByteArray piece(64 * 1024, '\0');
    EXPECT_EQ(hix::io::readFull(pipe.readEnd(), piece.data(), size_t(piece.size())), piece.size());
    writer.join();
    EXPECT_EQ(piece, sent.left(64 * 1024));
    EXPECT_GT(interruptions.load(), 0);
}

TEST(FileIo, OpenForReading_RefusesFifoAndDevicesAtOnce_OpensAFileThroughItsLink)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QElapsedTimer took;
    took.start();
    errno = 0;
    EXPECT_FALSE(hix::io::openRegularForReading(fifo).isOpen());
    EXPECT_EQ(errno, EINVAL);
    EXPECT_LT(took.elapsed(), 1000);
    EXPECT_FALSE(hix::io::openRegularForReading("/dev/null").isOpen());
    EXPECT_FALSE(hix::io::openRegularForReading(dir.path()).isOpen());
    EXPECT_FALSE(hix::io::openRegularForReading(dir.filePath("missing")).isOpen());
    EXPECT_EQ(errno, ENOENT);

    QFile file(dir.filePath("file"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("abc");
    file.close();
    ASSERT_TRUE(QFile::link(file.fileName(), dir.filePath("link")));
    const hix::io::Fd opened = hix::io::openRegularForReading(dir.filePath("link"));
    ASSERT_TRUE(opened.isOpen());
    char bytes[4] = {};
    EXPECT_EQ(hix::io::readFull(opened.get(), bytes, sizeof bytes), 3);
}

TEST(FileIo, KnownFile_CrcShaAndSizeInOneRead_ShortKernelFileHasNone)
{
    QTemporaryDir dir;
    QFile file(dir.filePath("check"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("123456789");
    file.close();
    quint32 crc = 0;
    hix::io::Sha256 sha;
    qint64 size = 0;
    ASSERT_TRUE(hix::io::digestFile(file.fileName(), &crc, &sha, &size));
    EXPECT_EQ(crc, 0xCBF43926u);
    EXPECT_EQ(sha.hexDigest(), "15e2b0d3c33891ebb0f1ef609ec419420c20e320ce94c65fbc8c3312448eb225");
    EXPECT_EQ(size, 9);
    crc = 0;
    EXPECT_TRUE(hix::io::fileCrc32(file.fileName(), &crc));
    EXPECT_EQ(crc, 0xCBF43926u);

    // A kernel attribute states a page and holds a few bytes, like a file that shrinks.
    const QString shortFile = "/sys/kernel/uevent_seqnum";
    QFile probe(shortFile);
    if (probe.open(QIODevice::ReadOnly) && probe.readAll().size() < QFileInfo(shortFile).size()) {
        EXPECT_FALSE(hix::io::fileCrc32(shortFile, &crc));
    }
}

TEST(FileIo, CopyBytes_StopsAtTheSizeOrReadsToTheEnd_SaysWhenTheSourceEndedEarly)
{
    QTemporaryDir dir;
    const QString source = dir.filePath("source");
    QFile file(source);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("0123456789");
    file.close();
    char buffer[4];
    const auto copy = [&](qint64 size, hix::io::CopyEnd end, QByteArray *out) {
        const hix::io::Fd in = hix::io::openRegularForReading(source);
        const QString target = dir.filePath("target");
        hix::io::Fd written = hix::io::createForWriting(target, 0600);
        const hix::io::CopyFailure failure
            = hix::io::copyBytes(in.get(), written.get(), size, buffer, sizeof buffer, end);
        written.close();
        QFile result(target);
        result.open(QIODevice::ReadOnly);
        *out = result.readAll();
        return failure;
    };
    QByteArray out;
    EXPECT_EQ(copy(6, hix::io::CopyEnd::AtSize, &out), hix::io::CopyFailure::None);
    EXPECT_EQ(out, "012345");
    EXPECT_EQ(copy(0, hix::io::CopyEnd::AtEndOfFile, &out), hix::io::CopyFailure::None);
    EXPECT_EQ(out, "0123456789");
    EXPECT_EQ(copy(12, hix::io::CopyEnd::AtSize, &out), hix::io::CopyFailure::EndedEarly);
    EXPECT_EQ(errno, ENODATA);
    EXPECT_EQ(out, "0123456789");
    EXPECT_EQ(copy(12, hix::io::CopyEnd::AtEndOfFile, &out), hix::io::CopyFailure::EndedEarly);
}
