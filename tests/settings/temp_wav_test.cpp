#include "settings/temp_wav.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtEndian>

#include "qt_printers.h"
#include "wav_bytes.h"

namespace tonvale::settings {
namespace {

using namespace Qt::StringLiterals;
constexpr std::uint32_t kStarting = 0x7FFF0000;  // the data size stated until the WAV ends
constexpr uid_t kNobody = 65534;  // the tests run as root: what nobody owns is another user's

// A 16-bit stereo WAV stating `dataSize`, with `audioBytes` of samples, then `tail`.
QByteArray Wav(std::uint32_t dataSize, int audioBytes, const QByteArray& tail = {}) {
  const auto header = testing::WavHeader(36 + dataSize, dataSize);
  return QByteArray(reinterpret_cast<const char*>(header.data()), 44) +
         QByteArray(audioBytes, '\x11') + tail;
}
void Write(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}
QByteArray Head(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.read(4096) : QByteArray();
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

// A killed recording's WAV states a guess or more than it holds: the next claim on its name
// makes it state its whole frames, at most what 32 bits can, and changes nothing else.
TEST(TempWav, AClaimTakesAnEndedClaimsFileOverAndGivesAKilledRecordingItsLength) {
  QTemporaryDir dir;
  const QString wav = dir.filePath(u"qorntemp.wav"_s);
  // The file, and the data size it then states (0: as it was; all 32 bits: made 5 GiB long).
  // clang-format off
  const std::tuple<const char*, QByteArray, std::uint32_t> cases[] = {
      {"cut off mid-frame", Wav(kStarting, 4002), 4000},
      {"cut off after its sizes were written", Wav(8000, 4000), 4000},
      {"cut off past 4 GiB", Wav(kStarting, 0), 0xFFFFFFFF},
      {"finished, a chunk after its audio", Wav(400, 400, QByteArray("LIST\x04\0\0\0INFO", 12)), 0},
      {"not a WAV", "RIFF but nothing a WAV has, and words to fill a header", 0},
  };
  // clang-format on
  for (const auto& [what, bytes, dataSize] : cases) {
    SCOPED_TRACE(what);
    Write(wav, bytes);
    ASSERT_TRUE(dataSize != 0xFFFFFFFF || QFile::resize(wav, qint64{5} << 30));
    QByteArray repaired = Head(wav);
    if (dataSize != 0) {
      const qint64 riffSize = std::min<qint64>(QFile(wav).size() - 8, 0xFFFFFFFF);
      qToLittleEndian(static_cast<quint32>(riffSize), repaired.data() + 4);
      qToLittleEndian(dataSize, repaired.data() + 40);
    }
    const TempWavClaim claim = TempWavClaim::Take(dir.path());
    EXPECT_TRUE(claim.claimed() && claim.path() == wav) << claim.path().toStdString();
    EXPECT_EQ(Head(wav), repaired);
  }
}

// The WAV's folder is $TMPDIR if the user's alone, else the user's own folder in it, or
// ~/.cache/tonvale with no $TMPDIR folder, made 0700; any other is refused by name, as is what
// another user planted at the WAV's or lock's name (kept as it was, with what it points to).
TEST(TempWav, AClaimIsMadeOnlyInAFolderAndOnFilesOfTheUsersAlone) {
  ASSERT_EQ(::geteuid(), 0u) << "needs root to plant another user's entries";
  // clang-format off
  // $TMPDIR's mode (0: unset, -1: missing), where what is planted ("": the folder; else by
  // another user), and what the claim is told.
  const std::tuple<int, const char*, int (*)(const char*, const char*), const char*> cases[] = {
      {0700, "", nullptr, nullptr}, {01777, "", nullptr, nullptr}, {0, "", nullptr, nullptr}, {-1, "", nullptr, nullptr},
      {01777, "", [](auto at, auto) { return ::mkdir(at, 0700) + ::chown(at, kNobody, kNobody); }, "another user"},
      {01777, "", [](auto at, auto) { return ::mkdir(at, 0750); }, "the group or others have access"},
      {01777, "", [](auto at, auto) { return ::symlink("..", at); }, "symbolic link"},
      {01777, "", [](auto at, auto) { return ::mknod(at, S_IFREG | 0600, 0); }, "not a folder"},
      {0777, "", nullptr, "may rename"},
      {0700, "qorntemp.wav", [](auto at, auto victim) { return ::symlink(victim, at); }, "symbolic link"},
      {0700, "qorntemp.wav", [](auto at, auto) { return ::mkfifo(at, 0666); }, "FIFO"},
      {0700, "qorntemp.wav.lock", [](auto at, auto victim) { return ::link(victim, at); }, "another user"},
      {0700, "qorntemp.wav.lock", [](auto at, auto) { return ::mkdir(at, 0777); }, "folder"},
  };
  // clang-format on
  QTemporaryDir root;
  const auto restore = qScopeGuard([tmpdir = qgetenv("TMPDIR")] { qputenv("TMPDIR", tmpdir); });
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto& [mode, at, plant, problem] = cases[i];
    SCOPED_TRACE(i);
    const QString home = root.filePath(QString::number(i));
    const QString tmpdir = home + u"/tmp"_s;
    const QString expected = mode == 0700 ? tmpdir
                             : mode > 0   ? tmpdir + u"/tonvale-%1"_s.arg(::geteuid())
                                          : home + u"/cache/tonvale"_s;
    ASSERT_EQ(::mkdir(N(home), 0700), 0);
    qputenv("XDG_CACHE_HOME", N(home + u"/cache"_s).bytes);
    qputenv("TMPDIR", mode == 0 ? QByteArray() : N(tmpdir).bytes);
    ASSERT_EQ(mode > 0 ? ::mkdir(N(tmpdir), 0700) + ::chmod(N(tmpdir), mode_t(mode)) : 0, 0);
    const QString planted = *at ? expected + u'/' + QLatin1String(at) : expected;
    // The user's own cut-off WAV: what is planted may point to it, or it is under the lock.
    const QString victim =
        planted.endsWith(u".lock"_s) ? expected + u"/qorntemp.wav"_s : home + u"/victim.wav"_s;
    Write(victim, Wav(kStarting, 4000));
    ASSERT_EQ((plant ? plant(N(planted), N(victim)) : 0) +
                  (*at ? ::lchown(N(planted), kNobody, kNobody) : 0),
              0);
    const struct stat before = Lstat(planted);

    const QString used = TempFolder();
    EXPECT_EQ(used, expected);
    const TempWavClaim claim = TempWavClaim::Take(used);
    const QString told = claim.problems().join(u' ');
    EXPECT_TRUE(problem ? told.contains(planted) && told.contains(QLatin1String(problem))
                        : told.isEmpty())
        << told.toStdString();
    const bool refused = problem && !*at;
    EXPECT_EQ(claim.claimed(), !refused);
    EXPECT_EQ(claim.path(), used + (*at ? u"/qorntemp-2.wav"_s : u"/qorntemp.wav"_s));
    EXPECT_EQ(Head(victim), Wav(kStarting, 4000));
    EXPECT_TRUE(!*at ||
                (Lstat(planted).st_mode == before.st_mode && Lstat(planted).st_uid == kNobody));
    EXPECT_EQ(QFile::exists(used + u"/qorntemp.wav.lock"_s), !refused);
    for (const QString& made : {claim.path(), claim.path() + u".lock"_s, used})
      EXPECT_TRUE(refused ||
                  Lstat(made).st_mode == (made == used ? S_IFDIR | 0700u : S_IFREG | 0600u))
          << made.toStdString();
  }
}

}  // namespace
}  // namespace tonvale::settings
