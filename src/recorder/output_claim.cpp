#include "recorder/output_claim.h"

#include "recorder/recorder_log.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

namespace tonvale::recorder {
namespace {

// The same file however the path spells it: its folder resolved, links and all.
QString CanonicalOutput(const QString& path) {
  const QFileInfo info(path);
  const QString folder = info.absoluteDir().canonicalPath();
  return (folder.isEmpty() ? info.absolutePath() : folder) + QLatin1Char('/') + info.fileName();
}

}  // namespace

OutputClaim::~OutputClaim() {
  Release();
}

void OutputClaim::Release() {
  if (fd_ >= 0) {
    ::close(fd_);  // drops the lock
    fd_ = -1;
  }
}

OutputClaim::Result OutputClaim::Claim(const QString& path) {
  Release();
  // Qt makes sure the runtime folder is the user's alone (0700), or makes one that is.
  const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (runtime.isEmpty() || !QDir(runtime).mkpath(QStringLiteral("tonvale"))) {
    qCWarning(lcRecorder) << "no runtime folder for the output file's lock";
    return Result::Unavailable;
  }
  const QByteArray key =
      QCryptographicHash::hash(CanonicalOutput(path).toUtf8(), QCryptographicHash::Sha1).toHex();
  const QByteArray lock = QFile::encodeName(runtime + QStringLiteral("/tonvale/output-")) + key +
                          QByteArrayLiteral(".lock");
  const int fd =
      ::open(lock.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
    qCWarning(lcRecorder) << "cannot use the lock" << lock;
    if (fd >= 0) {
      ::close(fd);
    }
    return Result::Unavailable;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const bool held = errno == EWOULDBLOCK;
    ::close(fd);
    return held ? Result::HeldByAnotherCopy : Result::Unavailable;
  }
  fd_ = fd;
  return Result::Claimed;
}

}  // namespace tonvale::recorder
