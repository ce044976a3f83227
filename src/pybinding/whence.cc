#include "pybinding/whence.h"

#include <array>
#include <string>

#include "common/internal_failure.h"
#include "pybinding/classes.h"
#include "pybinding/conversions.h"
#include "pybinding/declared_class.h"
#include "pybinding/instance.h"
#include "pybinding/module_state.h"
#include "pybinding/results.h"

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

PyObject* whence_repr(PyObject* self) {
  const Whence whence = *SANDRIG_TRY(self_value<Whence>(self, ClassId::Whence));
  return text_result(std::string("Whence.") + member_name(whence));
}

PyObject* whence_int(PyObject* self) {
  const Whence whence = *SANDRIG_TRY(self_value<Whence>(self, ClassId::Whence));
  return unsigned_result(static_cast<std::uint64_t>(whence));
}

// Equality with members and with ints; everything else, ordering included,
// is left to the interpreter's defaults.
PyObject* whence_richcompare(PyObject* self, PyObject* other, int op) {
  if (op != Py_EQ && op != Py_NE) Py_RETURN_NOTIMPLEMENTED;
  auto type = class_type(ClassId::Whence);
  if (!type) return nullptr;
  // An empty shell (see Instance) equals nothing but itself.
  if (PyObject_TypeCheck(self, *type) && !Members::constructed(self)) Py_RETURN_NOTIMPLEMENTED;
  auto whence = self_value<Whence>(self, ClassId::Whence);
  if (!whence) return nullptr;
  if (PyObject_TypeCheck(other, *type)) {
    if (!Members::constructed(other)) Py_RETURN_NOTIMPLEMENTED;
    bool equal = **whence == Members::value(other);
    return PyBool_FromLong((op == Py_EQ) == equal ? 1 : 0);
  }
  if (!PyLong_Check(other)) Py_RETURN_NOTIMPLEMENTED;
  OwnedRef number = OwnedRef::steal(unsigned_result(static_cast<std::uint64_t>(**whence)));
  if (!number) return nullptr;
  return PyObject_RichCompare(number.get(), other, op);
}

constexpr ClassDecl<0> kWhence{ClassId::Whence, "Whence",
                               "\nA small enumeration to determine the whence\nwhen seeking in a file.\n",
                               {}, nullptr};

using WhenceClass = DeclaredClass<kWhence>;

// Each member is created once, with the class, so that every access to
// Whence.SEEK_SET yields the same object.
bool add_members(PyTypeObject* type) {
  for (const Member& member : kMembers) {
    auto object = Members::create(type, member.value);
    if (!object) return false;
    if (!add_class_attribute(type, member.name, object->get())) return false;
  }
  return true;
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

bool register_whence(PyObject* module) {
  auto type = WhenceClass::register_in(
      module, Members::kBasicSize,
      {{Py_tp_dealloc, as_slot(&Members::destroy)},
       {Py_tp_repr, as_slot(Edge<&whence_repr>::call)},
       {Py_tp_richcompare, as_slot(Edge<&whence_richcompare>::call)},
       {Py_nb_int, as_slot(Edge<&whence_int>::call)}});
  return type && add_members(*type);
}

}  // namespace sandrig::py
