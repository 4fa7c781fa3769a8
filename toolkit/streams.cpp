#include "toolkit/streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "toolkit/exceptions.h"
#include "toolkit/pump.h"

int64_t TStream::Size() {
  const int64_t pos = Position();
  const int64_t size = Seek(0, TSeekOrigin::soEnd);
  Seek(pos, TSeekOrigin::soBeginning);
  return size;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EStreamError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EStreamError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  if (count < 0) return 0;
  constexpr int64_t kBlock = 1 << 16;
  std::vector<char> buffer(static_cast<size_t>(std::min(count, kBlock)));
  int64_t left = count;
  while (left > 0) {
    const int64_t n = std::min(left, kBlock);
    source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    left -= n;
  }
  return count;
}

std::string TStream::ReadAll() {
  const int64_t left = Size() - Position();
  std::string r(static_cast<size_t>(std::max<int64_t>(left, 0)), '\0');
  if (!r.empty()) r.resize(static_cast<size_t>(Read(r.data(), left)));
  return r;
}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  const int64_t n = std::clamp<int64_t>(Size() - pos_, 0, std::max<int64_t>(count, 0));
  if (n > 0) std::memcpy(buffer, data_.data() + pos_, static_cast<size_t>(n));
  pos_ += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  const size_t end = static_cast<size_t>(pos_ + count);
  if (end > data_.size()) {
    // Grow geometrically so that many small writes stay linear overall.
    if (end > data_.capacity()) data_.reserve(std::max(end, data_.capacity() * 2));
    data_.resize(end);
  }
  std::memcpy(data_.data() + pos_, buffer, static_cast<size_t>(count));
  pos_ += count;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  switch (origin) {
    case TSeekOrigin::soBeginning: pos_ = offset; break;
    case TSeekOrigin::soCurrent: pos_ += offset; break;
    case TSeekOrigin::soEnd: pos_ = Size() + offset; break;
  }
  if (pos_ < 0) pos_ = 0;
  return pos_;
}

void TMemoryStream::SetSize(int64_t size) {
  size = std::max<int64_t>(size, 0);  // a negative position would read before the buffer
  data_.resize(static_cast<size_t>(size));
  if (pos_ > size) pos_ = size;
}

void TMemoryStream::LoadFromStream(TStream& source) {
  // A large file is read in blocks with the window's messages dispatched between them: one
  // read of a hundred megabytes would hold the window for most of a tenth of a second.
  constexpr int64_t kBlock = 8 << 20;
  source.SetPosition(0);
  const int64_t size = source.Size();
  data_.clear();
  data_.reserve(static_cast<size_t>(size));
  for (int64_t done = 0; done < size; done += kBlock) {
    const int64_t n = std::min(kBlock, size - done);
    data_.resize(static_cast<size_t>(done + n));
    source.ReadBuffer(data_.data() + done, n);
    ProcessMessages();
  }
  pos_ = 0;
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, TFileMode::fmOpenRead);
  LoadFromStream(file);
}

void TMemoryStream::SaveToFile(const std::string& fileName) const {
  TFileStream file(fileName, TFileMode::fmCreate);
  file.WriteBuffer(data_.data(), static_cast<int64_t>(data_.size()));
}

TFileStream::TFileStream(const std::string& fileName, TFileMode mode, unsigned permissions) : fileName_(fileName) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case TFileMode::fmCreate: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    case TFileMode::fmCreateNew: flags |= O_RDWR | O_CREAT | O_EXCL; break;
    case TFileMode::fmOpenRead: flags |= O_RDONLY; break;
    case TFileMode::fmOpenReadWrite: flags |= O_RDWR; break;
  }
  fd_ = ::open(fileName.c_str(), flags, static_cast<mode_t>(permissions));
  if (fd_ < 0) {
    const std::string reason = std::strerror(errno);
    if (mode == TFileMode::fmCreate || mode == TFileMode::fmCreateNew) throw FileCreateError(fileName, reason);
    throw FileOpenError(fileName, reason);
  }
  struct stat st;
  if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    throw FileOpenError(fileName, std::strerror(EISDIR));
  }
}

TFileStream::~TFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  int64_t done = 0;
  while (done < count) {
    const ssize_t n = ::read(fd_, static_cast<char*>(buffer) + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw EInOutError("Read error on \"" + fileName_ + "\": " + std::strerror(errno));
    if (n == 0) break;
    done += n;
  }
  return done;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  int64_t done = 0;
  while (done < count) {
    const ssize_t n = ::write(fd_, static_cast<const char*>(buffer) + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw EInOutError("Write error on \"" + fileName_ + "\": " + std::strerror(errno));
    done += n;
  }
  return done;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  const int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
                     : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                        : SEEK_END;
  const off_t r = ::lseek(fd_, static_cast<off_t>(offset), whence);
  if (r < 0) throw EInOutError("Seek error on \"" + fileName_ + "\": " + std::strerror(errno));
  return r;
}

void TFileStream::SetSize(int64_t size) {
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0)
    throw EInOutError("Cannot resize \"" + fileName_ + "\": " + std::strerror(errno));
}
