#include "settings/temp_wav.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtEndian>
#include <functional>

namespace tonvale::settings {
namespace {

// A 16-bit stereo 44.1 kHz WAV header with the given sizes, then `audioBytes` of samples.
void WriteWav(const QString& path, quint32 riffSize, quint32 dataSize, qint64 audioBytes,
              bool trailingChunk = false) {
  QByteArray h("RIFF____WAVEfmt ");
  auto le32 = [&h](quint32 v) {
    char b[4];
    qToLittleEndian(v, b);
    h.append(b, 4);
  };
  auto le16 = [&h](quint16 v) {
    char b[2];
    qToLittleEndian(v, b);
    h.append(b, 2);
  };
  qToLittleEndian(riffSize, h.data() + 4);
  le32(16);
  le16(1);
  le16(2);
  le32(44100);
  le32(44100 * 4);
  le16(4);
  le16(16);
  h.append("data");
  le32(dataSize);
  h.append(QByteArray(audioBytes, '\x11'));
  if (trailingChunk)
    h.append(QByteArray("LIST\x04\x00\x00\x00INFO", 12));
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(h);
}

quint32 Le32At(const QString& path, qint64 pos) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly) || !file.seek(pos))
    return 0;
  const QByteArray b = file.read(4);
  return b.size() == 4 ? qFromLittleEndian<quint32>(b.constData()) : 0;
}

constexpr qint64 kDataSizeAt = 40;
constexpr quint32 kStarting = 0x7FFF0000;

TEST(TempWav, KilledRecordingsGetTheirLengthAndFinishedOnesStayAsTheyAre) {
  QTemporaryDir dir;
  const QString wav = dir.filePath(QStringLiteral("qorntemp.wav"));

  // Cut off: the header still holds the writer's first guess; a half sample frame at the end.
  WriteWav(wav, kStarting + 36, kStarting, 4 * 1000 + 2);
  EXPECT_TRUE(RepairUnfinishedWav(wav));
  EXPECT_EQ(Le32At(wav, kDataSizeAt), 4000u);
  EXPECT_EQ(Le32At(wav, 4), 36u + 4002u);
  EXPECT_FALSE(RepairUnfinishedWav(wav)) << "a repaired file is finished";

  // Finished, with a chunk after the audio that must not become audio.
  WriteWav(wav, 36 + 400 + 12, 400, 400, true);
  const QByteArray before = [&] {
    QFile f(wav);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }();
  EXPECT_FALSE(RepairUnfinishedWav(wav));
  QFile after(wav);
  ASSERT_TRUE(after.open(QIODevice::ReadOnly));
  EXPECT_EQ(after.readAll(), before);

  // Cut off past 4 GiB (a sparse file): the sizes become the most a header can state.
  WriteWav(wav, kStarting + 36, kStarting, 0);
  {
    QFile big(wav);
    ASSERT_TRUE(big.open(QIODevice::ReadWrite));
    ASSERT_TRUE(big.resize((qint64{5} << 30)));
  }
  EXPECT_TRUE(RepairUnfinishedWav(wav));
  EXPECT_EQ(Le32At(wav, kDataSizeAt), 0xFFFFFFFFu);
  EXPECT_EQ(Le32At(wav, 4), 0xFFFFFFFFu);

  // Not a WAV, too short, missing.
  QFile text(wav);
  ASSERT_TRUE(text.open(QIODevice::WriteOnly | QIODevice::Truncate));
  text.write("RIFF but then nothing a WAV would have, and more words to fill a header");
  text.close();
  EXPECT_FALSE(RepairUnfinishedWav(wav));
  EXPECT_FALSE(RepairUnfinishedWav(dir.filePath(QStringLiteral("missing.wav"))));
}

TEST(TempWav, EachRunningCopyClaimsItsOwnFileAndAKilledCopysClaimIsTakenOver) {
  QTemporaryDir dir;
  const QString first = dir.filePath(QStringLiteral("qorntemp.wav"));
  {
    TempWavClaim one = TempWavClaim::Take(dir.path());
    TempWavClaim two = TempWavClaim::Take(dir.path());
    EXPECT_TRUE(one.claimed());
    EXPECT_TRUE(two.claimed());
    EXPECT_EQ(one.path(), first);
    EXPECT_EQ(two.path(), dir.filePath(QStringLiteral("qorntemp-2.wav")));
  }
  // Released: the first name is free again.
  EXPECT_EQ(TempWavClaim::Take(dir.path()).path(), first);

  // A copy that was killed leaves its lock file, and its cut-off WAV; the next start takes
  // both over and repairs the WAV.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    TempWavClaim killed = TempWavClaim::Take(dir.path());
    _exit(killed.path() == first ? 0 : 1);  // leaves without releasing
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_TRUE(QFile::exists(first + QStringLiteral(".lock")));
  WriteWav(first, kStarting + 36, kStarting, 4 * 10);
  const TempWavClaim next = TempWavClaim::Take(dir.path());
  EXPECT_TRUE(next.claimed());
  EXPECT_EQ(next.path(), first);
  EXPECT_EQ(Le32At(first, kDataSizeAt), 40u);

  // A folder where no lock can be made still gives the usual name.
  const TempWavClaim nowhere = TempWavClaim::Take(dir.filePath(QStringLiteral("missing")));
  EXPECT_FALSE(nowhere.claimed());
  EXPECT_EQ(nowhere.path(), dir.filePath(QStringLiteral("missing/qorntemp.wav")));
}

QByteArray Contents(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A path as the system calls take it, for the length of one call.
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

constexpr uid_t kNobody = 65534;

// The tests run as root: an entry chowned to nobody is another user's.
TEST(TempWav, EntriesAnotherUserPlantedAreRefusedUntouchedAndTheNextNameIsUsed) {
  ASSERT_EQ(::geteuid(), 0u) << "needs root to plant another user's entries";
  alarm(30);  // a FIFO that blocks the claim ends the test instead of hanging it
  const std::pair<const char*, std::function<bool(const QString&, const QString&)>> kinds[] = {
      {"symbolic link", [](auto& at, auto& victim) { return ::symlink(N(victim), N(at)) == 0; }},
      {"another user", [](auto& at, auto& victim) { return QFile::copy(victim, at); }},
      {"FIFO", [](auto& at, auto&) { return ::mkfifo(N(at), 0666) == 0; }},
      {"folder", [](auto& at, auto&) { return ::mkdir(N(at), 0777) == 0; }},
  };
  for (const char* name : {"qorntemp.wav", "qorntemp.wav.lock"}) {
    for (const auto& [kind, plant] : kinds) {
      SCOPED_TRACE(std::string(name) + ": " + kind);
      QTemporaryDir dir;
      QTemporaryDir elsewhere;
      // The user's own: a cut-off WAV a repair would rewrite, and the finished last recording
      // (where nothing is planted).
      const QString victim = elsewhere.filePath(QStringLiteral("victim.wav"));
      WriteWav(victim, kStarting + 36, kStarting, 4000);
      const QString last = dir.filePath(QStringLiteral("qorntemp.wav"));
      const QString planted = dir.filePath(QLatin1String(name));
      if (planted != last)
        WriteWav(last, 36 + 400, 400, 400);
      const QByteArray victimBefore = Contents(victim);
      const QByteArray lastBefore = planted != last ? Contents(last) : QByteArray();
      ASSERT_TRUE(plant(planted, victim));
      ASSERT_EQ(::lchown(N(planted), kNobody, kNobody), 0);
      const struct stat before = Lstat(planted);
      const QByteArray plantedBefore = S_ISREG(before.st_mode) ? Contents(planted) : QByteArray();

      const TempWavClaim claim = TempWavClaim::Take(dir.path());
      EXPECT_EQ(claim.path(), dir.filePath(QStringLiteral("qorntemp-2.wav")));
      EXPECT_TRUE(claim.claimed());
      const QString told = claim.problems().join(u' ');
      EXPECT_TRUE(told.contains(planted) && told.contains(QLatin1String(kind)))
          << told.toStdString();
      EXPECT_EQ(Lstat(planted).st_mode, before.st_mode);
      EXPECT_EQ(Lstat(planted).st_uid, kNobody);
      EXPECT_EQ(Contents(victim), victimBefore);
      if (S_ISREG(before.st_mode)) {
        EXPECT_EQ(Contents(planted), plantedBefore);
      }
      if (planted != last) {
        EXPECT_EQ(Contents(last), lastBefore);
      }
      for (const QString& made : {claim.path(), claim.path() + QStringLiteral(".lock")})
        EXPECT_EQ(Lstat(made).st_mode, S_IFREG | 0600u) << made.toStdString();
    }
  }
  alarm(0);
}

TEST(TempWav, OnlyAFolderOfTheUsersOwnIsUsed) {
  const std::pair<const char*, std::function<int(const QString&)>> cases[] = {
      {"another user", [](auto& f) { return ::chown(N(f), kNobody, kNobody); }},
      {"the group or others have access", [](auto& f) { return ::chmod(N(f), 0750); }},
      {"not a folder", [](auto& f) { return ::rmdir(N(f)) + ::mknod(N(f), S_IFREG | 0600, 0); }},
      {"symbolic link",
       [](auto& f) { return ::rename(N(f), N(f + u'2')) + ::symlink(N(f + u'2'), N(f)); }},
      {"may rename", [](auto& f) { return ::chmod(N(QFileInfo(f).absolutePath()), 0777); }},
  };
  for (const auto& [problem, spoil] : cases) {
    SCOPED_TRACE(problem);
    QTemporaryDir parent;
    const QString folder = parent.filePath(QStringLiteral("tmp"));
    ASSERT_EQ(::mkdir(N(folder), 0700), 0);
    ASSERT_EQ(spoil(folder), 0);
    const TempWavClaim claim = TempWavClaim::Take(folder);
    EXPECT_FALSE(claim.claimed());
    const QString told = claim.problems().join(u' ');
    EXPECT_TRUE(told.contains(folder) && told.contains(QLatin1String(problem)))
        << told.toStdString();
    EXPECT_FALSE(QFile::exists(folder + QStringLiteral("/qorntemp.wav.lock")));
  }
}

TEST(TempWav, TheFolderIsTMPDIRWhenPrivateElseOneOfTheUsersOwn) {
  QTemporaryDir dir;
  const QString shared = dir.filePath(QStringLiteral("shared"));
  ASSERT_EQ(::mkdir(N(shared), 0700) + ::chmod(N(shared), 01777), 0);
  qputenv("XDG_CACHE_HOME", QFile::encodeName(dir.filePath(QStringLiteral("cache"))));
  const std::pair<QString, QString> cases[] = {
      {dir.path(), dir.path()},
      {shared, shared + QStringLiteral("/tonvale-%1").arg(::geteuid())},
      {QString(), dir.filePath(QStringLiteral("cache/tonvale"))},
      {dir.filePath(QStringLiteral("missing")), dir.filePath(QStringLiteral("cache/tonvale"))},
  };
  for (const auto& [tmpdir, expected] : cases) {
    SCOPED_TRACE(tmpdir.toStdString());
    qputenv("TMPDIR", QFile::encodeName(tmpdir));
    EXPECT_EQ(TempFolder(), expected);
    EXPECT_EQ(Lstat(expected).st_mode, S_IFDIR | 0700u);
  }
}

}  // namespace
}  // namespace tonvale::settings
