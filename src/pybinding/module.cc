// Placeholder entry point; replaced by the binding.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

static PyModuleDef sandrig_module = {PyModuleDef_HEAD_INIT, "sandrig", "", -1, nullptr};

PyMODINIT_FUNC PyInit_sandrig() { return PyModule_Create(&sandrig_module); }
