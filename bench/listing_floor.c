/* The floor of a cold listdir of 20 names through the C API: the calls a
   listing cannot do without, and nothing of a filesystem. One str
   argument read as UTF-8, one str of the 20 names joined by '/', split
   by the interpreter, one new empty list and a tuple of the two: the
   shape in which sandrig hands out a listing of one kind. bench/peers.py
   builds it for the running interpreter and times it beside W3c. */
#define PY_SSIZE_T_CLEAN
#include <Python.h>

static const char kNames[] =
    "f0/f1/f2/f3/f4/f5/f6/f7/f8/f9/f10/f11/f12/f13/f14/f15/f16/f17/f18/f19";

static PyObject *slash;

static PyObject *
listdir(PyObject *module, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames)
{
    if (nargs != 1 || kwnames != NULL) {
        PyErr_SetString(PyExc_TypeError, "listdir() takes one positional argument");
        return NULL;
    }
    Py_ssize_t size;
    if (PyUnicode_AsUTF8AndSize(args[0], &size) == NULL) {
        return NULL;
    }
    PyObject *joined = PyUnicode_DecodeUTF8(kNames, sizeof kNames - 1, NULL);
    if (joined == NULL) {
        return NULL;
    }
    PyObject *names = PyUnicode_Split(joined, slash, -1);
    Py_DECREF(joined);
    if (names == NULL) {
        return NULL;
    }
    PyObject *empty = PyList_New(0);
    if (empty == NULL) {
        Py_DECREF(names);
        return NULL;
    }
    PyObject *result = PyTuple_Pack(2, names, empty);
    Py_DECREF(names);
    Py_DECREF(empty);
    return result;
}

static PyMethodDef methods[] = {
    {"listdir", (PyCFunction)(void (*)(void))listdir, METH_FASTCALL | METH_KEYWORDS, NULL},
    {NULL, NULL, 0, NULL},
};

static struct PyModuleDef module = {PyModuleDef_HEAD_INIT, "listing_floor", NULL, -1, methods};

PyMODINIT_FUNC
PyInit_listing_floor(void)
{
    slash = PyUnicode_FromString("/");
    if (slash == NULL) {
        return NULL;
    }
    return PyModule_Create(&module);
}
