// Handing a planned HFS+ volume to a disk sink in increasing order: the volume header, the bitmap,
// the B-trees, the files' data read once from their sources, the free space as one skip, and the
// alternate header.
#include "hfsplus/HfsBitmap.h"
#include "hfsplus/HfsCatalog.h"
#include "hfsplus/HfsVolume.h"
#include "io/FileDescriptor.h"
#include "volume/VolumeSource.h"

#include <algorithm>
#include <memory>

namespace
{
constexpr size_t kCopyChunk = 1 << 20;

// Places bytes at volume offsets that only grow, filling what lies between with zeros of the content.
class CVolumeOut
{
public:
    explicit CVolumeOut(CDiskSink& sink) : m_sink(sink), m_base(sink.GetPosition()) {}

    uint64_t GetOffset() const { return m_sink.GetPosition() - m_base; }

    bool ZerosTo(uint64_t offset, std::string* error)
    {
        return offset <= GetOffset() || m_sink.WriteZeros(offset - GetOffset(), error);
    }
    bool SkipTo(uint64_t offset, std::string* error)
    {
        return offset <= GetOffset() || m_sink.Skip(offset - GetOffset(), error);
    }
    bool WriteAt(uint64_t offset, void const* data, size_t size, std::string* error)
    {
        if (offset < GetOffset())
        {
            *error = "internal error: the volume's bytes came out of order";
            return false;
        }
        return ZerosTo(offset, error) && m_sink.Write(data, size, error);
    }

private:
    CDiskSink& m_sink;
    uint64_t m_base;
};

uint64_t BlockOffset(CHfsVolumePlan const& plan, uint32_t block)
{
    return uint64_t(block) * plan.header.blockSize;
}

// The catalog packed again from the items, now that every fork has its place; its shape must be the
// one the plan was laid out with.
bool StreamCatalog(CHfsVolumePlan const& plan, CVolumeOut& out, std::string* error)
{
    CHfsBTree const& planned = plan.catalog;
    uint64_t const at = BlockOffset(plan, plan.header.catalogFile.extents[0].startBlock);
    if (!out.WriteAt(at, planned.nodes.data(), planned.nodeSize, error))
        return false;
    CHfsBTree written;
    CHfsBTreePacker packer(
        planned.nodeSize, [&out, at, &planned](uint32_t number, uint8_t const* node, std::string* why)
        { return out.WriteAt(at + uint64_t(number) * planned.nodeSize, node, planned.nodeSize, why); });
    auto const add = [&packer, error](std::vector<uint8_t> const& record)
    { return packer.Add(record, error); };
    if (!ForEachHfsCatalogRecord(plan.items, plan.describe, add, error) || !packer.Finish(&written, error))
        return false;
    if (written.GetUsedNodes() != planned.GetUsedNodes() || written.rootNode != planned.rootNode ||
        written.depth != planned.depth)
    {
        *error = "internal error: the catalog changed size while the volume was laid out";
        return false;
    }
    return true;
}

// One file's data from its source, which must still be the file the tree listed.
bool StreamSourceFile(CHfsItem const& item, CVolumeTree const& tree, CVolumeOut& out,
                      std::unique_ptr<uint8_t[]>& buffer, std::function<bool(uint64_t)> const& copied,
                      std::string* error)
{
    std::string path;
    CFileDescriptor source;
    if (!OpenVolumeSource(tree, item.source, &source, &path, error))
        return false;
    if (!buffer)
        buffer.reset(new uint8_t[kCopyChunk]);
    uint64_t done = 0;
    while (done < item.size)
    {
        size_t const n = size_t(std::min<uint64_t>(item.size - done, kCopyChunk));
        if (!ReadVolumeSource(source, path, buffer.get(), n, error) ||
            !out.WriteAt(out.GetOffset(), buffer.get(), n, error))
            return false;
        done += n;
        if (copied && !copied(n))
        {
            *error = "interrupted";
            return false;
        }
    }
    return true;
}

bool StreamFileData(CHfsVolumePlan const& plan, CVolumeOut& out, std::string* error)
{
    uint64_t done = 0;
    std::function<bool(uint64_t)> copied;
    if (plan.progress)
        copied = [&](uint64_t bytes) { return plan.progress(done += bytes, plan.fileDataBytes); };
    if (plan.progress && !plan.progress(0, plan.fileDataBytes))
    {
        *error = "interrupted";
        return false;
    }
    std::unique_ptr<uint8_t[]> buffer; // made on the first file read from its source
    for (CHfsItem const& item : plan.items)
    {
        if (item.kind == EHfsItemKind::Folder || item.size == 0)
            continue;
        uint64_t const at = BlockOffset(plan, item.startBlock);
        CVolumeItem const& source = plan.tree->Get(item.source);
        if (!out.ZerosTo(at, error))
            return false;
        if (item.kind == EHfsItemKind::Symlink)
        {
            if (!out.WriteAt(at, source.linkTarget.data(), source.linkTarget.size(), error))
                return false;
        }
        else if (source.data.bytes)
        {
            if (!out.WriteAt(at, source.data.bytes->data(), source.data.bytes->size(), error))
                return false;
            if (copied && !copied(item.size))
            {
                *error = "interrupted";
                return false;
            }
        }
        else if (!StreamSourceFile(item, *plan.tree, out, buffer, copied, error))
            return false;
    }
    return true;
}

} // namespace

bool StreamHfsVolume(CHfsVolumePlan const& plan, CDiskSink& sink, std::string* error)
{
    CHfsVolumeHeader const& header = plan.header;
    uint8_t headerBytes[kHfsVolumeHeaderSize];
    PutHfsVolumeHeader(headerBytes, header);
    CVolumeOut out(sink);

    CHfsBitmap bitmap(header.totalBlocks);
    bitmap.MarkUsed(0, plan.dataEnd);
    uint64_t const lastBlock = BlockOffset(plan, header.totalBlocks - 1);
    bool const altHeaderInLastBlock = plan.sizeBytes - 1024 < BlockOffset(plan, header.totalBlocks);
    if (altHeaderInLastBlock)
        bitmap.MarkUsed(header.totalBlocks - 1, 1);
    uint64_t const bitmapAt = BlockOffset(plan, header.allocationFile.extents[0].startBlock);
    CHfsBitmapWriteAt const writeBitmap =
        [&out, bitmapAt](uint64_t position, uint8_t const* data, size_t size, std::string* why)
    { return out.WriteAt(bitmapAt + position, data, size, why); };

    return out.WriteAt(kHfsVolumeHeaderOffset, headerBytes, sizeof headerBytes, error) &&
           bitmap.WriteUsedBytes(writeBitmap, error) &&
           out.WriteAt(BlockOffset(plan, header.extentsFile.extents[0].startBlock), plan.extents.nodes.data(),
                       plan.extents.nodes.size(), error) &&
           out.WriteAt(BlockOffset(plan, header.attributesFile.extents[0].startBlock),
                       plan.attributes.nodes.data(), plan.attributes.nodes.size(), error) &&
           StreamCatalog(plan, out, error) && StreamFileData(plan, out, error) &&
           out.ZerosTo(BlockOffset(plan, plan.dataEnd), error) &&
           out.SkipTo(altHeaderInLastBlock ? lastBlock : BlockOffset(plan, header.totalBlocks), error) &&
           out.WriteAt(plan.sizeBytes - 1024, headerBytes, sizeof headerBytes, error) &&
           out.ZerosTo(plan.sizeBytes, error);
}
