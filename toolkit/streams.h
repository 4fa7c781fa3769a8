// Byte streams: the abstract stream, an in-memory stream and a stream on a file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
 public:
  virtual ~TStream() = default;
  // Reads up to count bytes; returns how many were read (0 at the end).
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  // Writes count bytes; returns how many were written.
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  virtual void SetSize(int64_t size) = 0;

  int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(int64_t pos) { Seek(pos, TSeekOrigin::soBeginning); }
  virtual int64_t Size();

  // Like Read/Write, but a short transfer raises EStreamError.
  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
  void WriteString(std::string_view s) { WriteBuffer(s.data(), static_cast<int64_t>(s.size())); }
  // Copies count bytes from source's position; count 0 copies the whole source from its start.
  int64_t CopyFrom(TStream& source, int64_t count);
  // The remaining bytes from the position to the end.
  std::string ReadAll();
};

class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string data) : data_(std::move(data)) {}
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t size) override;
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }
  void Clear() {
    data_.clear();
    pos_ = 0;
  }
  void LoadFromStream(TStream& source);
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName) const;
  const std::string& Data() const { return data_; }
  std::string& Data() { return data_; }

 private:
  std::string data_;
  int64_t pos_ = 0;
};

enum class TFileMode { fmCreate, fmCreateNew, fmOpenRead, fmOpenReadWrite };

class TFileStream : public TStream {
 public:
  // fmCreate creates or empties the file; fmCreateNew creates it only when no file of that name
  // exists (never replacing one); the open modes need an existing file. Failures raise
  // EFCreateError / EFOpenError naming the file. A file created gets permissions (less the
  // umask).
  TFileStream(const std::string& fileName, TFileMode mode, unsigned permissions = 0644);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t size) override;
  const std::string& FileName() const { return fileName_; }

 protected:
  // Takes over an open descriptor (a file with no name, say); fileName is what errors show.
  TFileStream(int fd, std::string fileName) : fileName_(std::move(fileName)), fd_(fd) {}

 private:
  std::string fileName_;
  int fd_ = -1;
};
