#include "udif/ChunkPool.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace
{
// Slots per worker: one being compressed, one waiting, one being read or written by the caller.
constexpr size_t kSlotsPerWorker = 3;

bool IsAllZero(uint8_t const* data, size_t size)
{
    static uint8_t const kZeros[4096] = {};
    while (size > 0)
    {
        size_t const n = std::min(size, sizeof kZeros);
        if (std::memcmp(data, kZeros, n) != 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

// The libdeflate level that compresses at least as well as zlib at a given level, and faster.
// libdeflate's levels 8 and 9 search so deep that highly repetitive data compresses at under 2 MB/s,
// slower than zlib at level 9; level 7 already beats zlib's level 9 output on every kind of data
// we measured (text, code, binaries, localisations), at several times zlib's speed.
int ChooseLibdeflateLevel(int zlibLevel)
{
    return std::min(std::max(zlibLevel, 1), 7);
}
} // namespace

CChunkPool::CChunkPool(int level, unsigned workers, size_t chunkBytes)
{
    workers = std::max(1u, workers);
    m_slots.resize(workers * kSlotsPerWorker);
    for (CChunkSlot& slot : m_slots)
    {
        slot.input.resize(chunkBytes);
        slot.output.resize(chunkBytes);
    }
    try
    {
        for (unsigned i = 0; i < workers; ++i)
        {
            libdeflate_compressor* compressor = libdeflate_alloc_compressor(ChooseLibdeflateLevel(level));
            if (!compressor)
                throw std::bad_alloc();
            m_compressors.push_back(compressor);
            m_threads.emplace_back(&CChunkPool::RunWorker, this, compressor);
        }
    }
    catch (...)
    {
        StopWorkers();
        throw;
    }
}

CChunkPool::~CChunkPool()
{
    StopWorkers();
}

void CChunkPool::StopWorkers()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_workReady.notify_all();
    for (std::thread& thread : m_threads)
        thread.join();
    m_threads.clear();
    for (libdeflate_compressor* compressor : m_compressors)
        libdeflate_free_compressor(compressor);
    m_compressors.clear();
}

void CChunkPool::SubmitSlot()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        CChunkSlot& slot = m_slots[m_submitted % m_slots.size()];
        slot.done = false;
        ++m_submitted;
    }
    m_workReady.notify_one();
}

CChunkSlot& CChunkPool::WaitOldestSlot()
{
    CChunkSlot& slot = m_slots[m_taken % m_slots.size()];
    std::unique_lock<std::mutex> lock(m_mutex);
    m_slotDone.wait(lock, [&] { return slot.done; });
    return slot;
}

void CChunkPool::ReleaseSlot()
{
    ++m_taken;
}

void CChunkPool::RunWorker(libdeflate_compressor* compressor)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;)
    {
        m_workReady.wait(lock, [&] { return m_stopping || m_claimed < m_submitted; });
        if (m_stopping)
            return;
        CChunkSlot& slot = m_slots[m_claimed % m_slots.size()];
        ++m_claimed;
        lock.unlock();
        CompressSlot(compressor, slot);
        lock.lock();
        slot.done = true;
        m_slotDone.notify_all();
    }
}

void CChunkPool::CompressSlot(libdeflate_compressor* compressor, CChunkSlot& slot)
{
    if (slot.kind != EChunkKind::Data)
        return;
    if (!slot.keepZeros && IsAllZero(slot.input.data(), slot.inputSize))
    {
        slot.kind = EChunkKind::Zero;
        return;
    }
    // Room for one byte less than the input: a stream that doesn't fit isn't worth storing.
    slot.outputSize = libdeflate_zlib_compress(compressor, slot.input.data(), slot.inputSize,
                                               slot.output.data(), slot.inputSize - 1);
    slot.kind = slot.outputSize ? EChunkKind::Zlib : EChunkKind::Raw;
}
