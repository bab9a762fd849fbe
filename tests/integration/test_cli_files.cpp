// Every irbench-cli command that reads or writes a file, as a real process, with the
// inputs a new user gets wrong: the exit status, and the folder exactly as it was
// before (nothing created, an earlier output byte for byte, no temporary left).
#include "SimProcess.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using irtest::CliResult;
using irtest::SimProcess;

namespace {

const QByteArray kEarlier = "earlier output\n";

// A port bound but not listening: a connection is refused at once, so a command
// that connected before checking its files would exit 3.
class DeadPort {
public:
    DeadPort()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0
            && ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            m_port = ntohs(a.sin_port);
    }
    ~DeadPort()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
};

QByteArray frame(int w, int h)
{
    QByteArray b;
    for (int i = 0; i < w * h; ++i) {
        const int v = 1000 + (i * 37) % 500;
        b.append(char(v & 0xFF));
        b.append(char(v >> 8));
    }
    return b;
}

bool put(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Every file and folder below `root` with its bytes.
QMap<QString, QByteArray> snapshot(const QString& root)
{
    QMap<QString, QByteArray> m;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString rel = QDir(root).relativeFilePath(path);
        if (it.fileInfo().isDir()) {
            m[rel + "/"] = QByteArray();
        } else {
            QFile f(path);
            m[rel] = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
        }
    }
    return m;
}

enum class Link { None, Dead, Camera };

struct Case {
    const char* name;
    QStringList args;    // "@/x": x in the case's folder
    int exitCode;
    const char* watched; // must stay absent, or hold kEarlier if the folder has it
    Link link = Link::None;
    int fileLimitBlocks = 0;
};

void PrintTo(const Case& c, std::ostream* os)
{
    *os << c.name;
}

class CliFiles : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        const QDir d(m_dir.path());
        ASSERT_TRUE(d.mkpath("adir"));
        ASSERT_TRUE(d.mkpath("low"));
        ASSERT_TRUE(d.mkpath("high"));
        ASSERT_TRUE(put(d.filePath("empty.bin"), QByteArray()));
        ASSERT_TRUE(put(d.filePath("short.bin"), QByteArray("\x00\x01\x01", 3)));
        // (2, 3) is inside an 8 x 8 frame, (8, 8) is not.
        ASSERT_TRUE(put(d.filePath("outside.tbl"), QByteArray::fromHex("00004003" "00009009")));
        ASSERT_TRUE(put(d.filePath("f8.frame"), frame(8, 8)));
        ASSERT_TRUE(put(d.filePath("f64.frame"), frame(64, 64)));
        ASSERT_TRUE(put(d.filePath("low/Frame1.frame"), frame(8, 8)));
        ASSERT_TRUE(put(d.filePath("high/Frame1.frame"), frame(8, 7)));
        // No stream header anywhere in it.
        ASSERT_TRUE(put(d.filePath("junk.rec"), QByteArray(300, '\x5a')));
        ASSERT_TRUE(put(d.filePath("earlier.out"), kEarlier));
        ASSERT_TRUE(put(d.filePath("Invert_f64.frame"), kEarlier));
    }

    QStringList expand(const QStringList& args, int port) const
    {
        QStringList out;
        if (port > 0)
            out << "--net" << QString("127.0.0.1:%1").arg(port) << "--poll-ms" << "5";
        for (const QString& a : args)
            out << (a.startsWith("@/") ? QDir(m_dir.path()).filePath(a.mid(2)) : a);
        return out;
    }

    QTemporaryDir m_dir;
};

TEST_P(CliFiles, BadFilesGetTheirExitCodeAndLeaveTheFolderAsItWas)
{
    const Case& c = GetParam();
    DeadPort dead;
    std::unique_ptr<SimProcess> sim;
    int port = 0;
    if (c.link == Link::Dead) {
        ASSERT_GT(dead.port(), 0);
        port = dead.port();
    } else if (c.link == Link::Camera) {
        sim = std::make_unique<SimProcess>();
        ASSERT_TRUE(sim->ok()) << sim->output().toStdString();
        port = sim->port();
    }
    const QString watched = QDir(m_dir.path()).filePath(c.watched);
    const bool hadEarlier = QFile::exists(watched);
    const QMap<QString, QByteArray> before = snapshot(m_dir.path());

    const QStringList args = expand(c.args, port);
    const CliResult r = c.fileLimitBlocks > 0 ? irtest::runCliWithFileLimit(args, c.fileLimitBlocks)
                                              : irtest::runCli(args);
    const std::string said = r.err.toStdString();
    EXPECT_EQ(r.exitCode, c.exitCode) << said;
    if (c.exitCode == 0) {
        EXPECT_TRUE(r.out.contains("COMMAND ARGS")) << "the usage goes to stdout";
        EXPECT_TRUE(r.err.isEmpty()) << said;
    } else {
        EXPECT_TRUE(r.out.isEmpty()) << "no result for a refused command: " << r.out.toStdString();
        EXPECT_FALSE(r.err.isEmpty()) << "the reason is given";
    }
    if (hadEarlier) {
        QFile f(watched);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << c.watched;
        EXPECT_EQ(f.readAll(), kEarlier) << c.watched << ": the earlier file is intact";
    } else {
        EXPECT_FALSE(QFile::exists(watched)) << c.watched << " was created";
    }
    EXPECT_EQ(snapshot(m_dir.path()), before) << "nothing created, changed or left behind";
}

const Case kCases[] = {
    {"help_option", {"--help"}, 0, "none"},
    {"help_short_option", {"-h"}, 0, "none"},
    {"help_command", {"help"}, 0, "none"},

    {"invert_missing", {"invert", "@/none.bin"}, 2, "Invert_none.bin"},
    {"invert_empty", {"invert", "@/empty.bin"}, 2, "Invert_empty.bin"},
    {"invert_disk_full", {"invert", "@/f64.frame"}, 1, "Invert_f64.frame", Link::None, 1},
    {"crc_directory", {"crc", "@/adir"}, 2, "crc_adir"},
    {"crc_empty", {"crc", "@/empty.bin"}, 2, "crc_empty.bin"},

    {"write_file_missing", {"write-file", "0x1000000", "@/none.bin"}, 2, "none", Link::Dead},
    {"write_file_empty", {"write-file", "0x1000000", "@/empty.bin"}, 2, "none", Link::Dead},
    {"write_file_directory", {"write-file", "0x1000000", "@/adir"}, 2, "none", Link::Dead},
    {"read_back_into_directory", {"read-back", "2", "@/adir"}, 1, "none", Link::Dead},
    {"read_back_into_device", {"read-back", "2", "/dev/null"}, 1, "none", Link::Dead},

    {"nuc_missing_folder", {"nuc", "@/nolow", "@/low", "8", "8", "1", "@/earlier.out"}, 2, "earlier.out"},
    {"nuc_short_frame", {"nuc", "@/low", "@/high", "8", "8", "1", "@/earlier.out"}, 2, "earlier.out"},
    {"detect_v10_missing", {"detect-v10", "@/none.frame", "8", "8", "50", "50", "@/earlier.out"}, 2, "earlier.out"},
    {"detect_v10_directory", {"detect-v10", "@/adir", "8", "8", "50", "50", "@/earlier.out"}, 2, "earlier.out"},
    {"detect_v10_into_device", {"detect-v10", "@/f8.frame", "8", "8", "50", "50", "/dev/null"}, 1, "none"},
    {"detect_v20_base_short", {"detect-v20", "@/f8.frame", "8", "8", "50", "@/short.bin", "@/earlier.out"}, 2,
     "earlier.out"},
    {"detect_v20_base_outside", {"detect-v20", "@/f8.frame", "8", "8", "50", "@/outside.tbl", "@/earlier.out"}, 2,
     "earlier.out"},
    {"detect_v20_base_directory", {"detect-v20", "@/f8.frame", "8", "8", "50", "@/adir", "@/earlier.out"}, 2,
     "earlier.out"},
    {"table_dump_missing", {"table-dump", "@/none.tbl", "8", "8"}, 2, "none"},
    {"table_dump_short", {"table-dump", "@/short.bin", "8", "8"}, 2, "none"},
    {"table_dump_outside", {"table-dump", "@/outside.tbl", "8", "8"}, 2, "none"},

    {"agc_short", {"agc", "1", "@/short.bin", "8", "8", "@/earlier.out"}, 2, "earlier.out"},
    {"agc_empty", {"agc", "1", "@/empty.bin", "8", "8", "@/earlier.out"}, 2, "earlier.out"},
    {"agc_directory", {"agc", "1", "@/adir", "8", "8", "@/earlier.out"}, 2, "earlier.out"},
    {"agc_into_directory", {"agc", "1", "@/f8.frame", "8", "8", "@/adir"}, 1, "none"},
    {"agc_disk_full", {"agc", "1", "@/f64.frame", "64", "64", "@/earlier.out"}, 1, "earlier.out", Link::None, 1},
    {"decode_missing", {"decode-stream", "@/none.rec", "@/frames"}, 2, "frames"},
    {"decode_empty", {"decode-stream", "@/empty.bin", "@/frames"}, 2, "frames"},
    {"decode_directory", {"decode-stream", "@/adir", "@/frames"}, 2, "frames"},
    {"decode_no_whole_frame", {"decode-stream", "@/junk.rec", "@/frames"}, 2, "frames"},
    {"decode_into_file", {"decode-stream", "@/junk.rec", "@/earlier.out"}, 1, "earlier.out"},

    {"record_into_directory", {"record-stream", "1", "@/adir"}, 1, "none", Link::Dead},
    {"record_disk_full", {"record-stream", "1", "@/earlier.out"}, 1, "earlier.out", Link::Camera, 1},
    {"capture_into_file", {"capture", "1", "@/earlier.out"}, 1, "earlier.out", Link::Dead},
};

INSTANTIATE_TEST_SUITE_P(Commands, CliFiles, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });

} // namespace
