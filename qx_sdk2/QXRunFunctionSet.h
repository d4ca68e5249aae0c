// The code words one DSP instance has posted in run-function events, so that
// a delivered event runs code only if this instance posted it: without that a
// host could make the instance jump anywhere.
//
// Remembering never allocates, so it may happen on the process path: the
// first 64 words fit in the set itself, and only MakeRoom, called outside
// process calls, grows the table (to keep it at most half full). A set that
// fills up between two MakeRoom calls stops checking instead of losing an
// event: from then on it admits every word but 0, as if there were no guard.
#ifndef QX_SDK2_QXRUNFUNCTIONSET_H
#define QX_SDK2_QXRUNFUNCTIONSET_H

#include <cstddef>
#include <cstdint>

class QXRunFunctionSet {
 public:
  // Words that fit before the first MakeRoom.
  static constexpr size_t INITIAL_CAPACITY = 64;

  QXRunFunctionSet() = default;
  ~QXRunFunctionSet();
  QXRunFunctionSet(const QXRunFunctionSet&) = delete;
  QXRunFunctionSet& operator=(const QXRunFunctionSet&) = delete;

  // Remembers a posted word; 0 names no code and is not kept. Never allocates.
  void Remember(uintptr_t word);
  // True for a remembered word, or for any word but 0 once the set has
  // stopped checking.
  bool Admits(uintptr_t word) const;
  // Grows the table while more than half of it is used. Allocates: call it
  // only outside process calls. A failed allocation keeps the table as it is.
  void MakeRoom();

  // False once the set filled up and stopped checking.
  bool Checking() const { return !m_overflowed; }
  size_t Count() const { return m_count; }
  size_t Capacity() const { return m_capacity; }

 private:
  // The slot where `word` is, or the free slot where it belongs; m_capacity
  // when the table is full and `word` is not in it.
  size_t Find(uintptr_t word) const;

  uintptr_t m_inline[INITIAL_CAPACITY] = {};  // 0: a free slot
  uintptr_t* m_slots = m_inline;              // m_inline, or the grown table
  size_t m_capacity = INITIAL_CAPACITY;       // a power of two
  size_t m_count = 0;
  bool m_overflowed = false;
};

#endif  // QX_SDK2_QXRUNFUNCTIONSET_H
