// Compressing 1 MiB chunks on every core while the caller reads and writes them in disk order.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "udif/ChunkCodec.h"

#include <memory>

enum class EChunkKind
{
    Unused,     // free space: nothing read, nothing stored
    Zero,       // reads as zeros (holes of the raw disk and all-zero data)
    Data,       // read into `input`, to be compressed
    Raw,        // stored as read: compression would not make it smaller (or the format compresses nothing)
    Compressed, // stored as one stream of the image's format
};

struct CChunkSlot
{
    // Filled by the caller before Submit.
    EChunkKind kind = EChunkKind::Zero; // Unused, Zero (a hole: nothing read) or Data
    uint64_t startSector = 0;
    uint64_t sectorCount = 0;
    size_t regionIndex = 0;
    // Both buffers are left uninitialised, so memory is only taken as chunks fill them: the stream of
    // a small, compressible chunk touches a few pages of `output`, not the whole chunk.
    std::unique_ptr<uint8_t[]> input;
    size_t inputSize = 0;
    bool keepZeros = false; // compress the data even if it is all zeros
    // Filled by a worker: Data becomes Zero, Raw or Compressed; `output` holds the stream for Compressed.
    std::unique_ptr<uint8_t[]> output;
    size_t outputSize = 0;
    bool done = false;
};

// A fixed ring of slots: the caller fills the next free slot and submits it, workers compress submitted
// slots, and the caller takes finished slots back in submission order. Memory stays at a few chunks per
// worker whatever the size of the disk.
class CChunkPool
{
public:
    // `level` is a zlib level, 1 to 9, used by UDZO only.
    CChunkPool(EUdifFormat format, int level, unsigned workers, size_t chunkBytes);
    ~CChunkPool();
    CChunkPool(CChunkPool const&) = delete;
    CChunkPool& operator=(CChunkPool const&) = delete;

    // True while a slot is free for submission.
    bool HasFreeSlot() const { return m_submitted - m_taken < m_slots.size(); }
    bool HasPending() const { return m_taken < m_submitted; }
    // The slot to fill next; valid while HasFreeSlot().
    CChunkSlot& GetFreeSlot() { return m_slots[m_submitted % m_slots.size()]; }
    void SubmitSlot();
    // Waits for the oldest submitted slot and gives it; valid until ReleaseSlot().
    CChunkSlot& WaitOldestSlot();
    void ReleaseSlot();

private:
    void StopWorkers();
    void RunWorker(CChunkCodec* codec);
    static void CompressSlot(CChunkCodec* codec, CChunkSlot& slot);

    std::vector<CChunkSlot> m_slots;
    std::vector<std::unique_ptr<CChunkCodec>> m_codecs;
    std::vector<std::thread> m_threads;
    std::mutex m_mutex;
    std::condition_variable m_workReady;
    std::condition_variable m_slotDone;
    uint64_t m_submitted = 0; // changed by the caller only, under the mutex
    uint64_t m_claimed = 0;   // next submitted slot a worker takes on
    uint64_t m_taken = 0;     // caller only
    bool m_stopping = false;
};
