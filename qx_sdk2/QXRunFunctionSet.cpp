#include "QXRunFunctionSet.h"

#include <new>

namespace {

// Spreads code addresses (aligned, close together) and table offsets (small)
// over the table: the high bits of the word times the golden ratio.
size_t Home(uintptr_t word, size_t capacity) {
  const uint64_t mixed = static_cast<uint64_t>(word) * 0x9E3779B97F4A7C15ull;
  size_t bits = 0;
  while ((size_t{1} << bits) < capacity) ++bits;
  return bits == 0 ? 0 : static_cast<size_t>(mixed >> (64 - bits));
}

}  // namespace

QXRunFunctionSet::~QXRunFunctionSet() {
  if (m_slots != m_inline) delete[] m_slots;
}

size_t QXRunFunctionSet::Find(uintptr_t word) const {
  const size_t mask = m_capacity - 1;
  size_t slot = Home(word, m_capacity);
  for (size_t probes = 0; probes < m_capacity; ++probes, slot = (slot + 1) & mask) {
    if (m_slots[slot] == word || m_slots[slot] == 0) return slot;
  }
  return m_capacity;
}

void QXRunFunctionSet::Remember(uintptr_t word) {
  if (word == 0) return;
  const size_t slot = Find(word);
  if (slot == m_capacity) {
    m_overflowed = true;
    return;
  }
  if (m_slots[slot] == 0) {
    m_slots[slot] = word;
    ++m_count;
  }
}

bool QXRunFunctionSet::Admits(uintptr_t word) const {
  if (word == 0) return false;
  if (m_overflowed) return true;
  const size_t slot = Find(word);
  return slot != m_capacity && m_slots[slot] == word;
}

void QXRunFunctionSet::MakeRoom() {
  size_t capacity = m_capacity;
  while (m_count * 2 > capacity) capacity *= 2;
  if (capacity == m_capacity) return;
  uintptr_t* slots = new (std::nothrow) uintptr_t[capacity]();
  if (slots == nullptr) return;
  uintptr_t* const old_slots = m_slots;
  const size_t old_capacity = m_capacity;
  m_slots = slots;
  m_capacity = capacity;
  for (size_t i = 0; i < old_capacity; ++i) {
    if (old_slots[i] != 0) m_slots[Find(old_slots[i])] = old_slots[i];
  }
  if (old_slots != m_inline) delete[] old_slots;
}
