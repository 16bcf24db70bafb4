// Finding and checking the code signature of a UDIF image: where it sits between the property list
// and the trailer, and what "--dump" says about it.
#pragma once

#include "udif/KolyTrailer.h"
#include "udif/UdifImageReader.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct CImageSignatureLayout
{
    uint64_t trailerOffset = 0;
    uint8_t koly[kKolyTrailerSize] = {};
    uint64_t codeEnd = 0;         // the end of the property list: what the signature covers
    uint64_t signatureOffset = 0; // equals codeEnd when signed
    uint64_t signatureSize = 0;   // 0: not signed
};

// Reads the trailer and checks that the image is laid out as a signature needs: the property list
// after the data fork, followed by nothing but the signature (if any) and the trailer. False with a
// reason otherwise (a file that isn't an image, or a truncated one).
bool ReadImageSignatureLayout(CImageReadAt const& read, uint64_t fileSize, CImageSignatureLayout* layout,
                              std::string* error);

// The SHA-256 of the image's first `size` bytes, each chunk also handed to `consume` when it is set
// (to copy the image while it is hashed).
using CImageChunkSink = std::function<bool(uint8_t const* data, size_t size, std::string* error)>;
bool HashImageRange(CImageReadAt const& read, uint64_t size, CImageChunkSink const& consume,
                    std::array<uint8_t, 32>* hash, std::string* error);

// The trailer as the signature's special slot 6 hashes it: the signature's offset in place, its size 0.
std::array<uint8_t, kKolyTrailerSize> GetTrailerForHashing(CImageSignatureLayout const& layout);

// The lines "--dump" prints about the image's signature; none for an unsigned image. False with a
// reason when the image is signed but its signature can't be read.
bool DescribeImageSignature(CImageReadAt const& read, uint64_t fileSize, std::vector<std::string>* lines,
                            std::string* error);
