// Worker threads compressing chunks, handed back to the caller in disk order.
#include "udif/ChunkPool.h"

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
} // namespace

CChunkPool::CChunkPool(EUdifFormat format, int level, unsigned workers, size_t chunkBytes)
{
    workers = std::max(1u, workers);
    m_slots.resize(workers * kSlotsPerWorker);
    for (CChunkSlot& slot : m_slots)
    {
        slot.input.reset(new uint8_t[chunkBytes]);
        slot.output.reset(new uint8_t[chunkBytes]);
    }
    try
    {
        for (unsigned i = 0; i < workers; ++i)
        {
            m_codecs.push_back(std::make_unique<CChunkCodec>(format, level));
            m_threads.emplace_back(&CChunkPool::RunWorker, this, m_codecs.back().get());
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
    m_codecs.clear();
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

void CChunkPool::RunWorker(CChunkCodec* codec)
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
        CompressSlot(codec, slot);
        lock.lock();
        slot.done = true;
        m_slotDone.notify_all();
    }
}

void CChunkPool::CompressSlot(CChunkCodec* codec, CChunkSlot& slot)
{
    if (slot.kind != EChunkKind::Data)
        return;
    if (!slot.keepZeros && IsAllZero(slot.input.get(), slot.inputSize))
    {
        slot.kind = EChunkKind::Zero;
        return;
    }
    // Room for one byte less than the input: a stream that doesn't fit isn't worth storing.
    slot.outputSize =
        codec->Compress(slot.input.get(), slot.inputSize, slot.output.get(), slot.inputSize - 1);
    slot.kind = slot.outputSize ? EChunkKind::Compressed : EChunkKind::Raw;
}
