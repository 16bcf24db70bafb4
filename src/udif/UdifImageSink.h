// Writing a UDIF image (UDZO, UDBZ, ULMO or UDRO) from a disk handed over in order: the bytes go
// straight into 1 MiB chunks compressed on every core, and no raw copy of the disk is ever made.
#pragma once

#include "io/DiskSink.h"
#include "io/TempOutputFile.h"
#include "udif/UdifPlist.h"
#include "udif/UdifWriter.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CUdifImageSink : public CDiskSink
{
public:
    // `regions` are the disk's regions (each one blkx table), tiling it from sector 0; their
    // unusedSectors are not looked at (free space comes as Skip). UDZO is compressed at zlib `level`
    // (1..9), which the other formats ignore. `progress`, when set, is told the sectors stored and in
    // all; giving false stops the image with the reason "interrupted".
    CUdifImageSink(std::vector<CUdifRegion> regions, EUdifFormat format, int level,
                   CUdifProgress progress = {});
    ~CUdifImageSink() override; // an image not finished is removed with its temporary file
    CUdifImageSink(CUdifImageSink const&) = delete;
    CUdifImageSink& operator=(CUdifImageSink const&) = delete;

    // Checks the regions and the level, and opens the temporary file beside `outPath`. False with a
    // reason; nothing is left behind then.
    [[nodiscard]] bool Open(std::string const& outPath, std::string* error);

    // The disk's bytes. Write: content, cut into chunks at 1 MiB and at region ends, compressed (a
    // chunk of zeros is stored as a zero run). Skip: free space; its whole sectors are stored as
    // ignored runs, never compressed nor checksummed (bytes of a partly skipped sector count as
    // zeros of the content). WriteZeros: zeros of the content, never copied. Each fails once the
    // disk is full, on a write error or when progress stops the image; the sink takes nothing more
    // then.
    bool Write(void const* data, size_t size, std::string* error) override;
    bool Skip(uint64_t size, std::string* error) override;
    bool WriteZeros(uint64_t size, std::string* error) override;
    uint64_t GetPosition() const override { return m_position; }

    // Once every sector of the regions has been handed over: writes the property list, with
    // `extraResources` (a licence agreement, say) in its resource fork, and the trailer, flushes the
    // file and renames it to `outPath` (replacing a file there): one rename, so the final name
    // never holds an image without its extra resources. With SOURCE_DATE_EPOCH set the image's
    // identifier is derived from its content as WriteUdifImage derives it (the extra resources left
    // out), so adding them here or with AddResourcesToUdifImage afterwards gives the same bytes.
    // False with a reason; the temporary file is removed and outPath untouched then.
    [[nodiscard]] bool Finish(std::vector<CUdifResource> const& extraResources, std::string* error);

    class CImpl;

private:
    std::unique_ptr<CImpl> m_impl;
    uint64_t m_position = 0;
};
