// Root of the support library's classes. Every class in the tree has exactly
// two virtual operations, in this order: the deleting destructor, then compare.
// Objects are allocated through the module's allocation function. The module
// is built without RTTI: every class defines a virtual function out of line, so
// that its virtual table is emitted with the module's objects only.
#ifndef ZP_SUPPORT_KVOBJECT_H
#define ZP_SUPPORT_KVOBJECT_H

#include <cstddef>
#include <cstdint>

namespace zp {

class KvObject {
 public:
  KvObject() = default;
  KvObject(const KvObject&) = delete;
  KvObject& operator=(const KvObject&) = delete;
  virtual ~KvObject();

  // Three-way comparison with another object of the family: -1 when this one
  // sorts first, +1 when after, 0 when equal. KvObject's own says equal.
  virtual int16_t compare(const KvObject& other) const;

  // Non-throwing: a new-expression yields null when memory runs out, and the
  // caller reports it. Storage comes from zp::allocate.
  static void* operator new(size_t size) noexcept;
  static void operator delete(void* block) noexcept;
  static void* operator new(size_t, void* place) noexcept { return place; }
  static void operator delete(void*, void*) noexcept {}
};

}  // namespace zp

#endif  // ZP_SUPPORT_KVOBJECT_H
