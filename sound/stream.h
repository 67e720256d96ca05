// Embedded files and the streams that read them. Main thread only.
//
// Files compiled into the program are registered by name and opened as
// streams with the url "incbin::<name>": the text before the first "::",
// lower-cased, selects the stream factory; the rest is the factory's path.
#pragma once

#include <cstdint>
#include <memory>

#include "core/object.h"

// Registers `size` bytes at `data` under `name`. The bytes are not copied and
// must outlive the process's use of them. Returns 1 when added, 0 when the
// name is already registered (the first registration stays).
int AddEmbeddedFile(const TString& name, const void* data, int64_t size);
// The registered bytes and their size, or nullptr and 0. Names compare exactly.
const uint8_t* EmbeddedFileData(const TString& name);
int64_t EmbeddedFileSize(const TString& name);

// A byte stream. Positions and sizes are in bytes; a stream that cannot tell
// its position answers -1 from Pos().
class TStream : public TObject {
 public:
  virtual int64_t Pos() { return -1; }
  virtual int64_t Size() { return -1; }
  // Moves to `pos`; returns the new position (or -1 when the stream cannot seek).
  virtual int64_t Seek(int64_t pos) {
    (void)pos;
    return -1;
  }
  // Reads or writes at most `count` bytes; returns the count transferred.
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  virtual void Close() {}
};

// A stream over memory it does not own.
class TRamStream : public TStream {
 public:
  TRamStream(uint8_t* buffer, int64_t size, bool readable, bool writeable);
  int64_t Pos() override { return _pos; }
  int64_t Size() override { return _size; }
  int64_t Seek(int64_t pos) override;  // clamped to 0 .. Size()
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  const uint8_t* Buffer() const { return _buf; }

 private:
  int64_t _pos = 0;
  int64_t _size = 0;
  uint8_t* _buf = nullptr;
  int32_t _read = 0;
  int32_t _write = 0;
};

// Opens streams for one or more protocols. Factories are asked newest first.
class TStreamFactory {
 public:
  virtual ~TStreamFactory() = default;
  // `protocol` is lower-cased; nullptr when this factory does not serve it.
  virtual std::shared_ptr<TStream> CreateStream(const TString& protocol, const TString& path,
                                                bool readable, bool writeable) = 0;
};

// "incbin": read-only streams over the embedded files.
class TRamStreamFactory : public TStreamFactory {
 public:
  std::shared_ptr<TStream> CreateStream(const TString& protocol, const TString& path,
                                        bool readable, bool writeable) override;
};

// Adds a factory at the head of the list (the "incbin" one is always there).
void RegisterStreamFactory(std::shared_ptr<TStreamFactory> factory);

// Opens `url` ("protocol::path"); nullptr when no factory serves it.
std::shared_ptr<TStream> OpenStream(const TString& url, bool readable, bool writeable);
