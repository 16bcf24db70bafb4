// Handing a planned APFS container to a disk sink: metadata blocks from the plan, file data from
// the sources (each read once, checked to be the file the tree was made from), free space skipped.
#include "apfs/ApfsContainer.h"

#include "io/FileDescriptor.h"
#include "volume/VolumeSource.h"

#include <algorithm>

namespace
{
constexpr size_t kReadSize = 1 << 20;

bool SkipTo(CDiskSink* sink, uint64_t offset, std::string* error)
{
    uint64_t const position = sink->GetPosition();
    if (offset < position)
    {
        *error = "the container's blocks overlap"; // a planning fault, never a user's
        return false;
    }
    return offset == position || sink->Skip(offset - position, error);
}

class CDataWriter
{
public:
    CDataWriter(CApfsPlan const& plan, CDiskSink* sink) : m_plan(plan), m_sink(sink), m_buffer(kReadSize) {}

    bool Write(CVolumeTree const& tree, size_t index, std::string* error)
    {
        CVolumeItem const& item = tree.Get(index);
        if (item.data.bytes)
        {
            if (item.data.bytes->size() != item.size)
            {
                *error = "the data of '" + item.name + "' changed size";
                return false;
            }
            return m_sink->Write(item.data.bytes->data(), item.size, error) && Count(item.size, error) &&
                   Pad(item.size, error);
        }
        std::string path;
        CFileDescriptor source;
        if (!OpenVolumeSource(tree, index, &source, &path, error))
            return false;
        for (uint64_t left = item.size; left > 0;)
        {
            size_t const want = size_t(std::min<uint64_t>(left, m_buffer.size()));
            if (!ReadVolumeSource(source, path, m_buffer.data(), want, error) ||
                !m_sink->Write(m_buffer.data(), want, error) || !Count(want, error))
                return false;
            left -= want;
        }
        return Pad(item.size, error);
    }

private:
    bool Pad(uint64_t size, std::string* error)
    {
        size_t const tail = size_t(size % kApfsBlockSize);
        if (tail == 0)
            return true;
        static uint8_t const zeros[kApfsBlockSize] = {};
        return m_sink->Write(zeros, kApfsBlockSize - tail, error);
    }

    bool Count(uint64_t bytes, std::string* error)
    {
        m_done += bytes;
        if (m_plan.settings.progress && !m_plan.settings.progress(m_done, m_plan.dataBytes))
        {
            *error = "interrupted";
            return false;
        }
        return true;
    }

    CApfsPlan const& m_plan;
    CDiskSink* m_sink;
    std::vector<uint8_t> m_buffer;
    uint64_t m_done = 0;
};
} // namespace

bool StreamApfsContainer(CApfsPlan const& plan, CDiskSink* sink, std::string* error)
{
    // Metadata and file data interleave by block: the internal pool follows the data.
    uint64_t const start = sink->GetPosition();
    CDataWriter writer(plan, sink);
    size_t file = 0;
    for (size_t block = 0; block <= plan.metadata.size(); ++block)
    {
        uint64_t const next = block < plan.metadata.size() ? plan.metadata[block].first : plan.blockCount;
        for (; file < plan.files.size() && plan.files[file].firstBlock < next; ++file)
            if (!SkipTo(sink, start + plan.files[file].firstBlock * kApfsBlockSize, error) ||
                !writer.Write(*plan.tree, plan.files[file].item, error))
                return false;
        if (block == plan.metadata.size())
            break;
        CApfsBlock const& bytes = plan.metadata[block].second;
        if (!SkipTo(sink, start + next * kApfsBlockSize, error) || !sink->Write(bytes.data(), bytes.size(), error))
            return false;
    }
    return SkipTo(sink, start + plan.blockCount * kApfsBlockSize, error);
}
