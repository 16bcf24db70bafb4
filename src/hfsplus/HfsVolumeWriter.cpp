// Writing a fresh HFS+ volume into a disk file from a host folder: the folder is listed into a volume
// tree, the volume planned from it and streamed into the file.
#include "hfsplus/HfsFileIo.h"
#include "hfsplus/HfsVolume.h"
#include "volume/HostTree.h"

#include <cstring>
#include <ctime>

namespace
{
constexpr size_t kZeroCheckBlock = 4096;

bool IsAllZero(uint8_t const* p, size_t size)
{
    return size == 0 || (p[0] == 0 && memcmp(p, p + 1, size - 1) == 0);
}

// Takes the volume into a file range already cleared to zeros (holes where the file system can):
// zeros and free space are not written, 4 KiB pieces of zeros inside data neither, so they stay
// holes; writes that follow one another closely are gathered into one.
class CClearedRangeSink : public CDiskSink
{
public:
    CClearedRangeSink(int fd, uint64_t offset) : m_out(fd, kZeroCheckBlock), m_offset(offset) {}

    bool Write(void const* data, size_t size, std::string* error) override
    {
        auto const* bytes = static_cast<uint8_t const*>(data);
        for (size_t at = 0; at < size; at += kZeroCheckBlock)
        {
            size_t const piece = std::min(kZeroCheckBlock, size - at);
            if (IsAllZero(bytes + at, piece))
                continue;
            size_t run = piece;
            while (at + run < size)
            {
                size_t const next = std::min(kZeroCheckBlock, size - at - run);
                if (IsAllZero(bytes + at + run, next))
                    break;
                run += next;
            }
            if (!m_out.WriteAt(bytes + at, run, m_offset + m_position + at, error))
                return false;
            at += run - piece;
        }
        m_position += size;
        return true;
    }
    bool Skip(uint64_t size, std::string*) override
    {
        m_position += size;
        return true;
    }
    bool WriteZeros(uint64_t size, std::string* error) override { return Skip(size, error); }
    uint64_t GetPosition() const override { return m_position; }
    bool Flush(std::string* error) { return m_out.Flush(error); }

private:
    CGatheredWriter m_out;
    uint64_t m_offset;
    uint64_t m_position = 0;
};
} // namespace

bool WriteHfsVolume(int fd, uint64_t offset, CHfsVolumeSettings const& settings,
                    std::string const& sourceRoot, std::string* error)
{
    CVolumeTree tree;
    if (sourceRoot.empty())
        tree.Get(CVolumeTree::kRoot).modifiedTime = time(nullptr);
    else if (!ReadHostTree(sourceRoot, &tree, error))
        return false;
    for (auto const& [path, flags] : settings.finderFlags)
    {
        size_t const item = tree.FindPath(path);
        if (item != CVolumeTree::kNone)
            tree.Get(item).finderFlags = flags;
    }
    CHfsVolumePlan plan;
    if (!PlanHfsVolumeFromTree(tree, settings, sourceRoot.empty() ? sourceRoot : sourceRoot + "/", &plan, error))
        return false;
    // Everything that isn't written below must read as zeros: clear the whole range first.
    CClearedRangeSink sink(fd, offset);
    return EnsureFileSize(fd, offset + settings.sizeBytes, error) &&
           ZeroFileRange(fd, offset, settings.sizeBytes, error) && StreamHfsVolume(plan, sink, error) &&
           sink.Flush(error);
}
