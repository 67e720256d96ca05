// The Ogg Vorbis sample loader, through libvorbisfile reading our stream.
// Register it with RegisterAudioSampleLoader (InitSound does). Main thread
// only, like every loader.
#pragma once

#include <memory>

#include "sound/sample.h"

// Streams with more than two channels are refused (the formats hold at most
// two); a stream that ends before its announced length gives a sample of the
// frames actually decoded. Decodes to signed 16-bit little-endian words.
class TAudioSampleLoaderOGG : public TAudioSampleLoader {
 public:
  std::shared_ptr<TAudioSample> LoadAudioSample(TStream& stream) override;
};
