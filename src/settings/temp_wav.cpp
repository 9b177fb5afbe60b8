#include "settings/temp_wav.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

#include "platform/riff.h"

#include "settings/private_files.h"

namespace tonvale::settings {

namespace riff = platform::riff;
namespace {

Q_LOGGING_CATEGORY(lcTempWav, "tonvale.settings")

constexpr int kMaxCopies = 16;
constexpr quint64 kMax32 = std::numeric_limits<quint32>::max();
// Enough for the RIFF header, an extensible "fmt " chunk, a "fact" chunk and the data header.
constexpr qint64 kHeaderBytes = 256;
// The data size the WAV writer states until the end of the stream tells it the real one.
constexpr quint32 kStartingDataSize = 0x7FFF0000;

QString WavName(int copy) {
  return copy == 1 ? QStringLiteral("qorntemp.wav") : QStringLiteral("qorntemp-%1.wav").arg(copy);
}

QString Refused(const QString& path, const QString& why) {
  return QStringLiteral("\"%1\" was not used: %2.").arg(path, why);
}

// The path with its links resolved, or the path itself when it cannot be resolved.
QString Canonical(const QString& path) {
  char* real = ::realpath(QFile::encodeName(path).constData(), nullptr);
  if (real == nullptr)
    return path;
  const QString resolved = QFile::decodeName(real);
  std::free(real);
  return resolved;
}

bool IsFolder(const QString& path) {
  struct stat st {};
  return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A recording that was killed leaves a WAV whose header still states the placeholder sizes
// written at its start. Sets the RIFF and data sizes from the file's length (whole sample
// frames, at most 0xFFFFFFFF) so that readers play what is there; leaves finished files and
// anything that is not a WAV alone. Returns whether it changed the header.
bool RepairOpenWav(int fd) {
  QFile file;
  if (!file.open(fd, QIODevice::ReadWrite, QFileDevice::DontCloseHandle))
    return false;
  const QByteArray head = file.read(kHeaderBytes);
  const quint64 fileBytes = static_cast<quint64>(file.size());
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(head.constData());
  quint32 blockAlign = 0;
  qint64 dataSizeAt = -1;
  quint64 audio = 0;
  riff::WalkWavChunks(bytes, static_cast<std::size_t>(head.size()), [&](const riff::Chunk& chunk) {
    if (chunk.Is("fmt ") && chunk.size >= 16 &&
        chunk.offset + 8 + 14 <= static_cast<std::size_t>(head.size())) {
      blockAlign = riff::ReadLe16(bytes + chunk.offset + 8 + 12);
      return true;
    }
    if (!chunk.Is("data"))
      return true;
    const quint64 dataStart = chunk.offset + 8;
    if (blockAlign == 0 || fileBytes < dataStart)
      return false;
    audio = fileBytes - dataStart;
    audio -= audio % blockAlign;
    // A cut-off file claims more than it holds, or still the writer's first guess when it
    // grew past that; a finished one may hold more chunks after its audio.
    if (chunk.size > audio || chunk.size == kStartingDataSize)
      dataSizeAt = static_cast<qint64>(chunk.offset + 4);
    return false;
  });
  if (dataSizeAt < 0)
    return false;
  std::array<std::uint8_t, 4> riffSize{};
  std::array<std::uint8_t, 4> dataSize{};
  riff::WriteLe32(riffSize.data(), static_cast<quint32>(qMin(fileBytes - 8, kMax32)));
  riff::WriteLe32(dataSize.data(), static_cast<quint32>(qMin(audio, kMax32)));
  return file.seek(4) && file.write(reinterpret_cast<const char*>(riffSize.data()), 4) == 4 &&
         file.seek(dataSizeAt) &&
         file.write(reinterpret_cast<const char*>(dataSize.data()), 4) == 4 && file.flush();
}

}  // namespace

QString TempFolder() {
  const QByteArray tmpdir = qgetenv("TMPDIR");
  if (!tmpdir.isEmpty()) {
    const QString base = Canonical(QFile::decodeName(tmpdir));
    if (IsFolder(base)) {
      if (FolderProblem(base).isEmpty())
        return base;
      // Shared with others (/tmp): a folder of the user's own inside it, checked at the claim.
      const QString own = base + QStringLiteral("/tonvale-%1").arg(::geteuid());
      ::mkdir(QFile::encodeName(own).constData(), 0700);
      return own;
    }
  }
  // No $TMPDIR, or one that names no folder: the user's cache folder.
  QString cache = QFile::decodeName(qgetenv("XDG_CACHE_HOME"));
  if (!QDir::isAbsolutePath(cache))
    cache = QDir::homePath() + QStringLiteral("/.cache");
  const QString folder = cache + QStringLiteral("/tonvale");
  MakePrivateFolder(folder);
  return Canonical(folder);
}

TempWavClaim::~TempWavClaim() {
  if (lockFd_ >= 0)
    ::close(lockFd_);
}

TempWavClaim::TempWavClaim(TempWavClaim&& other) noexcept
    : path_(std::move(other.path_)),
      lockFd_(std::exchange(other.lockFd_, -1)),
      problems_(std::move(other.problems_)) {}

TempWavClaim& TempWavClaim::operator=(TempWavClaim&& other) noexcept {
  if (this != &other) {
    if (lockFd_ >= 0)
      ::close(lockFd_);
    path_ = std::move(other.path_);
    lockFd_ = std::exchange(other.lockFd_, -1);
    problems_ = std::move(other.problems_);
  }
  return *this;
}

TempWavClaim TempWavClaim::Take(const QString& folder) {
  TempWavClaim claim;
  claim.path_ = folder + QLatin1Char('/') + WavName(1);
  if (const QString problem = FolderProblem(folder); !problem.isEmpty()) {
    claim.problems_ << QStringLiteral(
                           "The folder for the temporary recording file, \"%1\", cannot be "
                           "used: %2.")
                           .arg(folder, problem)
                    << QStringLiteral(
                           "Tonvale records only into a folder that is yours alone, so that no "
                           "other user can read the recording or plant a file in its place.");
    qCWarning(lcTempWav, "Not using %s", qPrintable(claim.problems_.front()));
    return claim;
  }
  for (int copy = 1; copy <= kMaxCopies; ++copy) {
    const QString path = folder + QLatin1Char('/') + WavName(copy);
    const QString lockPath = path + QStringLiteral(".lock");
    QString problem;
    bool entryRefused = false;
    const int lock = OpenOwnFile(lockPath, O_CREAT, &problem, &entryRefused);
    if (lock < 0) {
      claim.problems_ << Refused(lockPath, problem);
      if (entryRefused)
        continue;
      break;  // cannot lock here at all
    }
    if (::flock(lock, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      ::close(lock);
      if (error == EWOULDBLOCK)
        continue;  // a running copy's
      claim.problems_ << Refused(lockPath, QString::fromLocal8Bit(std::strerror(error)));
      break;
    }
    const int wav = OpenOwnFile(path, O_CREAT | O_EXCL, &problem, &entryRefused);
    if (wav < 0) {
      ::close(lock);
      claim.problems_ << Refused(path, problem);
      if (entryRefused)
        continue;
      break;
    }
    if (RepairOpenWav(wav))
      qCInfo(lcTempWav, "Repaired the unfinished %s", qPrintable(path));
    ::close(wav);
    claim.path_ = path;
    claim.lockFd_ = lock;
    if (!claim.problems_.isEmpty())
      claim.problems_
          << QStringLiteral("This copy of Tonvale records to \"%1\" instead.").arg(path);
    return claim;
  }
  claim.problems_ << (claim.problems_.isEmpty()
                          ? QStringLiteral("Every temporary recording file in \"%1\" is taken by "
                                           "another running copy of Tonvale, so this one cannot "
                                           "record.")
                                .arg(folder)
                          : QStringLiteral("No temporary recording file could be claimed in "
                                           "\"%1\", so Tonvale cannot record.")
                                .arg(folder));
  qCWarning(lcTempWav, "Could not claim a temporary WAV in %s", qPrintable(folder));
  return claim;
}

}  // namespace tonvale::settings
