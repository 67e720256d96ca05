#include "sound/stream.h"

#include <algorithm>
#include <cstring>
#include <list>

namespace {

struct TEmbeddedFile {
  TString name;
  const uint8_t* data;
  int64_t size;
};

// Newest first, so a lookup meets the most recent registration; duplicates
// are refused at registration, which keeps the first one in effect.
std::list<TEmbeddedFile>& EmbeddedFiles() {
  static std::list<TEmbeddedFile> files;
  return files;
}

const TEmbeddedFile* FindEmbeddedFile(const TString& name) {
  for (const auto& file : EmbeddedFiles())
    if (file.name == name) return &file;
  return nullptr;
}

std::list<std::shared_ptr<TStreamFactory>>& StreamFactories() {
  static std::list<std::shared_ptr<TStreamFactory>> factories{
      std::make_shared<TRamStreamFactory>()};
  return factories;
}

}  // namespace

int AddEmbeddedFile(const TString& name, const void* data, int64_t size) {
  if (FindEmbeddedFile(name)) return 0;
  EmbeddedFiles().push_front({name, static_cast<const uint8_t*>(data), std::max<int64_t>(size, 0)});
  return 1;
}

const uint8_t* EmbeddedFileData(const TString& name) {
  const TEmbeddedFile* file = FindEmbeddedFile(name);
  return file ? file->data : nullptr;
}

int64_t EmbeddedFileSize(const TString& name) {
  const TEmbeddedFile* file = FindEmbeddedFile(name);
  return file ? file->size : 0;
}

TRamStream::TRamStream(uint8_t* buffer, int64_t size, bool readable, bool writeable)
    : _size(std::max<int64_t>(size, 0)), _buf(buffer), _read(readable), _write(writeable) {}

int64_t TRamStream::Seek(int64_t pos) {
  _pos = std::clamp<int64_t>(pos, 0, _size);
  return _pos;
}

int64_t TRamStream::Read(void* buffer, int64_t count) {
  if (!_read || count <= 0) return 0;
  int64_t n = std::min(count, _size - _pos);
  if (n > 0) std::memcpy(buffer, _buf + _pos, static_cast<size_t>(n));
  _pos += n;
  return n;
}

int64_t TRamStream::Write(const void* buffer, int64_t count) {
  if (!_write || count <= 0) return 0;
  int64_t n = std::min(count, _size - _pos);
  if (n > 0) std::memcpy(_buf + _pos, buffer, static_cast<size_t>(n));
  _pos += n;
  return n;
}

std::shared_ptr<TStream> TRamStreamFactory::CreateStream(const TString& protocol,
                                                         const TString& path, bool readable,
                                                         bool writeable) {
  if (protocol != u"incbin" || writeable) return nullptr;
  const TEmbeddedFile* file = FindEmbeddedFile(path);
  if (!file) return nullptr;
  // The stream is read-only, so handing it the constant bytes is safe.
  return std::make_shared<TRamStream>(const_cast<uint8_t*>(file->data), file->size, readable,
                                      false);
}

void RegisterStreamFactory(std::shared_ptr<TStreamFactory> factory) {
  if (factory) StreamFactories().push_front(std::move(factory));
}

std::shared_ptr<TStream> OpenStream(const TString& url, bool readable, bool writeable) {
  size_t split = url.find(u"::");
  if (split == TString::npos) return nullptr;
  TString protocol = LowerCase(url.substr(0, split));
  TString path = url.substr(split + 2);
  for (const auto& factory : StreamFactories())
    if (auto stream = factory->CreateStream(protocol, path, readable, writeable)) return stream;
  return nullptr;
}
