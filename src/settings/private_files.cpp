#include "settings/private_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>

namespace tonvale::settings {
namespace {

QString ErrnoText(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}

QString Octal(mode_t mode) {
  return QStringLiteral("%1").arg(mode & 07777, 4, 8, QLatin1Char('0'));
}

}  // namespace

QString NotOwnRegularFile(const struct stat& st) {
  if (S_ISLNK(st.st_mode))
    return QStringLiteral("it is a symbolic link");
  if (S_ISDIR(st.st_mode))
    return QStringLiteral("it is a folder");
  if (S_ISFIFO(st.st_mode))
    return QStringLiteral("it is a FIFO (named pipe)");
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
    return QStringLiteral("it is a device");
  if (!S_ISREG(st.st_mode))
    return QStringLiteral("it is not a regular file");
  if (st.st_uid != ::geteuid())
    return QStringLiteral("it belongs to another user (uid %1)").arg(st.st_uid);
  if (st.st_nlink > 1)
    return QStringLiteral("it has more than one name (a hard link)");
  return {};
}

int OpenOwnFile(const QString& path, int createFlags, QString* problem, bool* entryRefused) {
  bool refusedEntry = false;
  if (entryRefused == nullptr)
    entryRefused = &refusedEntry;
  problem->clear();
  *entryRefused = false;
  const QByteArray native = QFile::encodeName(path);
  int flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  struct stat st {};
  if (::lstat(native.constData(), &st) == 0) {
    // Refused before it is opened: opening a device or a FIFO may already do something.
    *problem = NotOwnRegularFile(st);
    if (!problem->isEmpty()) {
      *entryRefused = true;
      return -1;
    }
  } else if (errno != ENOENT) {
    *problem = ErrnoText(errno);
    return -1;
  } else if (createFlags == 0) {
    return -1;
  } else {
    flags |= createFlags;
  }
  const int fd = ::open(native.constData(), flags, 0600);
  if (fd < 0) {
    const int error = errno;
    // Whatever took the name in the meantime is reported as what it is.
    if (::lstat(native.constData(), &st) == 0) {
      *problem = NotOwnRegularFile(st);
      *entryRefused = true;
    }
    if (problem->isEmpty())
      *problem = ErrnoText(error);
    return -1;
  }
  if (::fstat(fd, &st) != 0 || !(*problem = NotOwnRegularFile(st)).isEmpty()) {
    if (problem->isEmpty())
      *problem = ErrnoText(errno);
    *entryRefused = true;
    ::close(fd);
    return -1;
  }
  if ((st.st_mode & 077) != 0)
    ::fchmod(fd, 0600);
  return fd;
}

bool MakePrivateFolder(const QString& folder) {
  const QString absolute = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
  QString path;
  for (const QString& part : absolute.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
    path += QLatin1Char('/') + part;
    ::mkdir(QFile::encodeName(path).constData(), 0700);  // an existing one stays as it is
  }
  struct stat st {};
  return ::stat(QFile::encodeName(absolute).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

QString FolderProblem(const QString& folder) {
  const QByteArray native = QFile::encodeName(folder);
  struct stat st {};
  if (::lstat(native.constData(), &st) != 0)
    return errno == ENOENT ? QStringLiteral("it does not exist and could not be created")
                           : ErrnoText(errno);
  if (S_ISLNK(st.st_mode))
    return QStringLiteral("it is a symbolic link");
  if (!S_ISDIR(st.st_mode))
    return QStringLiteral("it is not a folder");
  if (st.st_uid != ::geteuid())
    return QStringLiteral("it belongs to another user (uid %1)").arg(st.st_uid);
  if ((st.st_mode & 077) != 0)
    return QStringLiteral(
               "the group or others have access to it (mode %1; \"chmod 700\" makes it private)")
        .arg(Octal(st.st_mode));
  // In a folder everyone may write to, only the sticky bit keeps them from renaming it. (A
  // group-writable one is left alone: with a group per user, as many systems have, ~/.cache
  // may well be.)
  const QString parent = QFileInfo(folder).absolutePath();
  if (::stat(QFile::encodeName(parent).constData(), &st) == 0 && (st.st_mode & S_IWOTH) != 0 &&
      (st.st_mode & S_ISVTX) == 0)
    return QStringLiteral("other users may rename or replace it in \"%1\" (mode %2)")
        .arg(parent, Octal(st.st_mode));
  return {};
}

void PrepareSettingsFile(const QString& file) {
  const QString folder = QFileInfo(file).absolutePath();
  const QByteArray nativeFolder = QFile::encodeName(folder);
  struct stat st {};
  if (::lstat(nativeFolder.constData(), &st) != 0) {
    MakePrivateFolder(folder);
  } else if (S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) != 0) {
    const int dir =
        ::open(nativeFolder.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir >= 0) {
      if (::fstat(dir, &st) == 0 && st.st_uid == ::geteuid())
        ::fchmod(dir, 0700);
      ::close(dir);
    }
  }
  QString problem;
  const int fd = OpenOwnFile(file, O_CREAT, &problem);
  if (fd >= 0)
    ::close(fd);
}

}  // namespace tonvale::settings
