#include "pybinding/whence.h"

#include <array>
#include <string>

#include "common/internal_failure.h"
#include "pybinding/classes.h"
#include "pybinding/framework/conversions.h"
#include "pybinding/framework/declared_class.h"
#include "pybinding/framework/instance.h"
#include "pybinding/framework/module_state.h"
#include "pybinding/framework/results.h"

namespace sandrig::py {
namespace {

using Members = Native<Whence>;

struct Member {
  const char* name;
  Whence value;
};
constexpr std::array<Member, 3> kMembers = {{
    {"SEEK_SET", Whence::SeekSet},
    {"SEEK_CUR", Whence::SeekCur},
    {"SEEK_END", Whence::SeekEnd},
}};

const char* member_name(Whence whence) {
  return kMembers[static_cast<std::size_t>(whence)].name;
}

PyResult<OwnedRef> whence_repr(PyObject* self) {
  const Whence whence = *SANDRIG_TRY(self_value<Whence>(self, ClassId::Whence));
  return text_result(std::string("Whence.") + member_name(whence));
}

PyResult<OwnedRef> whence_int(PyObject* self) {
  const Whence whence = *SANDRIG_TRY(self_value<Whence>(self, ClassId::Whence));
  return unsigned_result(static_cast<std::uint64_t>(whence));
}

// Equality with members and with ints; everything else, ordering included,
// is left to the interpreter's defaults.
OwnedRef not_implemented() { return OwnedRef::borrow(Py_NotImplemented); }

PyResult<OwnedRef> whence_richcompare(PyObject* self, PyObject* other, int op) {
  if (op != Py_EQ && op != Py_NE) return not_implemented();
  PyTypeObject* type = SANDRIG_TRY(class_type(ClassId::Whence));
  // An empty shell (see Instance) equals nothing but itself.
  if (PyObject_TypeCheck(self, type) && !Members::constructed(self)) return not_implemented();
  const Whence whence = *SANDRIG_TRY(self_value<Whence>(self, ClassId::Whence));
  if (PyObject_TypeCheck(other, type)) {
    if (!Members::constructed(other)) return not_implemented();
    const bool equal = whence == Members::value(other);
    return OwnedRef::borrow((op == Py_EQ) == equal ? Py_True : Py_False);
  }
  if (!PyLong_Check(other)) return not_implemented();
  OwnedRef number = SANDRIG_TRY(unsigned_result(static_cast<std::uint64_t>(whence)));
  return new_reference(PyObject_RichCompare(number.get(), other, op));
}

constexpr ClassDecl<0> kWhence{ClassId::Whence, "Whence",
                               "\nA small enumeration to determine the whence\nwhen seeking in a file.\n",
                               {}, nullptr};

using WhenceClass = DeclaredClass<kWhence>;

// Each member is created once, with the class, so that every access to
// Whence.SEEK_SET yields the same object.
PyResult<void> add_members(PyTypeObject* type) {
  for (const Member& member : kMembers) {
    OwnedRef object = SANDRIG_TRY(Members::create(type, member.value));
    SANDRIG_TRY(add_class_attribute(type, member.name, object.get()));
  }
  return {};
}

}  // namespace

fs::SeekOrigin to_seek_origin(Whence whence) {
  switch (whence) {
    case Whence::SeekSet:
      return fs::SeekOrigin::Start;
    case Whence::SeekCur:
      return fs::SeekOrigin::Current;
    case Whence::SeekEnd:
      return fs::SeekOrigin::End;
  }
  fail("Whence holds an unknown value");
}

PyResult<Whence> whence_argument(PyObject* value, const char* name) {
  PyObject* object =
      SANDRIG_TRY(instance_argument(value, name, SANDRIG_TRY(class_type(ClassId::Whence))));
  if (!Members::constructed(object)) return raise_not_constructed(object, name);
  return Members::value(object);
}

template <>
PyResult<void> register_class_of<ClassId::Whence>(PyObject* module) {
  PyTypeObject* type = SANDRIG_TRY(WhenceClass::register_in(
      module, Members::kBasicSize,
      {{Py_tp_dealloc, as_slot(&Members::destroy)},
       {Py_tp_repr, as_slot(Edge<&whence_repr>::call)},
       {Py_tp_richcompare, as_slot(Edge<&whence_richcompare>::call)},
       {Py_nb_int, as_slot(Edge<&whence_int>::call)}}));
  return add_members(type);
}

}  // namespace sandrig::py
