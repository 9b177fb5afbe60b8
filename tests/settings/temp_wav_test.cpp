#include "settings/temp_wav.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtEndian>
#include <functional>

#include "qt_printers.h"
#include "wav_bytes.h"

namespace tonvale::settings {
namespace {

using namespace Qt::StringLiterals;
constexpr std::uint32_t kStarting = 0x7FFF0000;  // the data size stated until the WAV ends
constexpr uid_t kNobody = 65534;  // the tests run as root: what nobody owns is another user's

// A 16-bit stereo WAV stating `dataSize`, with `audioBytes` of samples, then `tail`.
QByteArray Wav(std::uint32_t dataSize, int audioBytes, const QByteArray& tail = {}) {
  const auto header = testing::WavHeader(
      {.riffSize = 36 + dataSize + static_cast<std::uint32_t>(tail.size()), .dataSize = dataSize});
  return QByteArray(reinterpret_cast<const char*>(header.data()),
                    static_cast<qsizetype>(header.size())) +
         QByteArray(audioBytes, '\x11') + tail;
}
void Write(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  ASSERT_EQ(file.write(bytes), bytes.size());
}
QByteArray Head(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.read(4096) : QByteArray();
}
quint32 Le32(const QByteArray& bytes, int at) {
  return qFromLittleEndian<quint32>(bytes.constData() + at);
}
// A path as system calls take it.
struct N {
  explicit N(const QString& path) : bytes(QFile::encodeName(path)) {}
  operator const char*() const { return bytes.constData(); }
  QByteArray bytes;
};
struct stat Lstat(const QString& path) {
  struct stat st {};
  ::lstat(N(path), &st);
  return st;
}

// A killed recording's WAV states the writer's first guess, or more than it holds: the repair
// states its whole frames instead, at most what 32 bits can. Nothing else is changed, and a
// repaired file counts as finished.
TEST(TempWav, RepairGivesKilledRecordingsTheirLengthAndLeavesAllElseAlone) {
  QTemporaryDir dir;
  const QString wav = dir.filePath(u"qorntemp.wav"_s);
  // How the file comes to be, and the data size it then states (0: it stays as it is).
  // clang-format off
  const std::tuple<const char*, std::function<void()>, std::uint32_t> cases[] = {
      {"cut off mid-frame", [&] { Write(wav, Wav(kStarting, 4002)); }, 4000},
      {"cut off after its sizes were written", [&] { Write(wav, Wav(8000, 4000)); }, 4000},
      {"cut off past 4 GiB", [&] { Write(wav, Wav(kStarting, 0)); QFile::resize(wav, qint64{5} << 30); }, 0xFFFFFFFF},
      {"finished, a chunk after its audio", [&] { Write(wav, Wav(400, 400, QByteArray("LIST\x04\0\0\0INFO", 12))); }, 0},
      {"not a WAV", [&] { Write(wav, "RIFF but nothing a WAV has, and words to fill a header"); }, 0},
      {"missing", [&] { QFile::remove(wav); }, 0},
  };
  // clang-format on
  for (const auto& [what, write, dataSize] : cases) {
    SCOPED_TRACE(what);
    write();
    const QByteArray before = Head(wav);
    EXPECT_EQ(RepairUnfinishedWav(wav), dataSize != 0);
    if (dataSize == 0) {
      EXPECT_EQ(Head(wav), before);
    } else {
      EXPECT_EQ(Le32(Head(wav), 40), dataSize);
      EXPECT_EQ(Le32(Head(wav), 4), std::min<qint64>(QFile(wav).size() - 8, 0xFFFFFFFF))
          << "the RIFF size";
    }
    EXPECT_FALSE(RepairUnfinishedWav(wav));
  }
}

// Each running copy claims a WAV of its own; a claim ends with its copy. A killed copy leaves
// its lock and its cut-off WAV: the next start takes both over and repairs the WAV.
TEST(TempWav, EachRunningCopyClaimsItsOwnFileAndAKilledCopysClaimIsTakenOver) {
  QTemporaryDir dir;
  const QString first = dir.filePath(u"qorntemp.wav"_s);
  {
    const TempWavClaim one = TempWavClaim::Take(dir.path());
    const TempWavClaim two = TempWavClaim::Take(dir.path());
    EXPECT_TRUE(one.claimed() && two.claimed());
    EXPECT_EQ(one.path(), first);
    EXPECT_EQ(two.path(), dir.filePath(u"qorntemp-2.wav"_s));
  }
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const TempWavClaim killed = TempWavClaim::Take(dir.path());
    _exit(killed.path() == first ? 0 : 1);  // the first name again, left without releasing
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_TRUE(QFile::exists(first + u".lock"_s));
  Write(first, Wav(kStarting, 40));
  const TempWavClaim next = TempWavClaim::Take(dir.path());
  EXPECT_TRUE(next.claimed());
  EXPECT_EQ(next.path(), first);
  EXPECT_EQ(Le32(Head(first), 40), 40u);
}

// The WAV's folder is $TMPDIR when that is the user's alone, else a folder of the user's own
// in it, or ~/.cache/tonvale without a $TMPDIR that is a folder; it is made with mode 0700. A
// folder that is not the user's alone is refused by name. In the folder, whatever another user
// planted at the WAV's name or its lock's is refused by name and left as it was, as is what
// it points to, and the next name is used. What a claim makes is the user's own, mode 0600.
TEST(TempWav, AClaimIsMadeOnlyInAFolderAndOnFilesOfTheUsersAlone) {
  ASSERT_EQ(::geteuid(), 0u) << "needs root to plant another user's entries";
  alarm(30);  // a FIFO that blocks the claim ends the test instead of hanging it
  using Plant = std::function<int(const QString& at, const QString& victim)>;
  // clang-format off
  const Plant link = [](auto& at, auto& victim) { return ::symlink(N(victim), N(at)); };
  const Plant copy = [](auto& at, auto& victim) { return QFile::copy(victim, at) ? 0 : -1; };
  const Plant fifo = [](auto& at, auto&) { return ::mkfifo(N(at), 0666); };
  const Plant folder = [](auto& at, auto&) { return ::mkdir(N(at), 0777); };
  const Plant others = [](auto& at, auto&) { return ::mkdir(N(at), 0700) + ::chown(N(at), kNobody, kNobody); };
  const Plant open = [](auto& at, auto&) { return ::mkdir(N(at), 0750); };
  const Plant file = [](auto& at, auto&) { return ::mknod(N(at), S_IFREG | 0600, 0); };
  const Plant away = [](auto& at, auto&) { return ::mkdir(N(at + u'2'), 0700) + ::symlink(N(at + u'2'), N(at)); };
  // The mode of $TMPDIR (0: unset, -1: missing), where something is planted ("": the folder,
  // by the user), what, and what the claim is told.
  const std::tuple<int, const char*, Plant, const char*> cases[] = {
      {0700, "", nullptr, nullptr}, {01777, "", nullptr, nullptr}, {0, "", nullptr, nullptr}, {-1, "", nullptr, nullptr},
      {01777, "", others, "another user"},
      {01777, "", open, "the group or others have access"},
      {01777, "", file, "not a folder"},
      {01777, "", away, "symbolic link"},
      {0777, "", nullptr, "may rename"},
      {0700, "qorntemp.wav", link, "symbolic link"},   {0700, "qorntemp.wav.lock", link, "symbolic link"},
      {0700, "qorntemp.wav", copy, "another user"},    {0700, "qorntemp.wav.lock", copy, "another user"},
      {0700, "qorntemp.wav", fifo, "FIFO"},            {0700, "qorntemp.wav.lock", fifo, "FIFO"},
      {0700, "qorntemp.wav", folder, "folder"},        {0700, "qorntemp.wav.lock", folder, "folder"},
  };
  // clang-format on
  QTemporaryDir root;
  const auto restore = qScopeGuard([tmpdir = qgetenv("TMPDIR")] { qputenv("TMPDIR", tmpdir); });
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto& [mode, at, plant, problem] = cases[i];
    SCOPED_TRACE(std::to_string(i) + ": " + at + " " + (problem ? problem : ""));
    const QString home = root.filePath(QString::number(i));
    const QString tmpdir = home + u"/tmp"_s;
    const QString own = tmpdir + u"/tonvale-%1"_s.arg(::geteuid());
    const QString expected = mode == 0700 ? tmpdir : mode > 0 ? own : home + u"/cache/tonvale"_s;
    ASSERT_EQ(::mkdir(N(home), 0700), 0);
    qputenv("XDG_CACHE_HOME", N(home + u"/cache"_s).bytes);
    qputenv("TMPDIR", mode == 0 ? QByteArray() : N(tmpdir).bytes);
    if (mode > 0) {
      ASSERT_EQ(::mkdir(N(tmpdir), 0700) + ::chmod(N(tmpdir), static_cast<mode_t>(mode)), 0);
    }
    // The user's own: a cut-off WAV a repair would rewrite, and the last recording.
    const QString victim = home + u"/victim.wav"_s;
    Write(victim, Wav(kStarting, 4000));
    const QString last = expected + u"/qorntemp.wav"_s;
    const QString planted = *at ? expected + u'/' + QLatin1String(at) : expected;
    if (planted != last && *at)
      Write(last, Wav(400, 400));
    if (plant) {
      ASSERT_EQ(plant(planted, victim), 0);
    }
    if (*at) {
      ASSERT_EQ(::lchown(N(planted), kNobody, kNobody), 0);
    }
    const struct stat before = Lstat(planted);

    const QString used = TempFolder();
    EXPECT_EQ(used, expected);
    const TempWavClaim claim = TempWavClaim::Take(used);
    const QString told = claim.problems().join(u' ');
    EXPECT_EQ(told.isEmpty(), problem == nullptr) << told.toStdString();
    EXPECT_TRUE(!problem || (told.contains(planted) && told.contains(QLatin1String(problem))))
        << told.toStdString();
    const bool refused = problem && !*at;
    EXPECT_EQ(claim.claimed(), !refused);
    EXPECT_EQ(claim.path(), used + (*at ? u"/qorntemp-2.wav"_s : u"/qorntemp.wav"_s));
    EXPECT_EQ(Head(victim), Wav(kStarting, 4000));
    if (*at) {
      EXPECT_EQ(Lstat(planted).st_mode, before.st_mode);
      EXPECT_EQ(Lstat(planted).st_uid, kNobody);
      EXPECT_EQ(S_ISREG(before.st_mode) ? Head(planted) : Wav(kStarting, 4000),
                Wav(kStarting, 4000));
      EXPECT_EQ(planted != last ? Head(last) : Wav(400, 400), Wav(400, 400));
    }
    if (refused) {
      EXPECT_FALSE(QFile::exists(used + u"/qorntemp.wav.lock"_s));
    } else {
      EXPECT_EQ(Lstat(used).st_mode, S_IFDIR | 0700u);
      for (const QString& made : {claim.path(), claim.path() + u".lock"_s})
        EXPECT_EQ(Lstat(made).st_mode, S_IFREG | 0600u) << made.toStdString();
    }
  }
  alarm(0);
}

}  // namespace
}  // namespace tonvale::settings
