// The floor: nubracore's calls on double vectors and matrices written
// straight on the CPython C API, as cheap as an extension can make them.
// Functions are METH_FASTCALL; containers share reference-counted storage,
// and an operation's result is a new vector over its output's storage, as
// nubracore's are. Each operation makes nubracore's checks (types, sizes,
// overlap) and then its one CBLAS call.

#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <cblas.h>
#include <limits.h>

// Zero-filled elements, freed with the last container over them.
typedef struct {
    PyObject_VAR_HEAD
    double elements[];
} Storage;

// A vector is a matrix of one column.
typedef struct {
    PyObject_HEAD
    Storage *storage;
    double *data;
    Py_ssize_t rows, cols;
} Array;

static PyTypeObject StorageType, VecType, MatType;

static void storage_dealloc(PyObject *self)
{
    PyObject_Free(self);
}

static void array_dealloc(Array *self)
{
    Py_DECREF(self->storage);
    PyObject_Free(self);
}

// A new container of type over storage, which it holds a reference to.
static PyObject *array_over(PyTypeObject *type, Storage *storage, Py_ssize_t rows, Py_ssize_t cols)
{
    Array *self = PyObject_New(Array, type);
    if (self == NULL)
        return NULL;
    Py_INCREF(storage);
    self->storage = storage;
    self->data = storage->elements;
    self->rows = rows;
    self->cols = cols;
    return (PyObject *)self;
}

// A new container of type with fresh storage; NULL and MemoryError for an
// impossible size.
static PyObject *array_new(PyTypeObject *type, Py_ssize_t rows, Py_ssize_t cols)
{
    // No storage this large can exist; refusing it keeps the byte count from overflowing.
    const Py_ssize_t limit = PY_SSIZE_T_MAX / 2 / (Py_ssize_t)sizeof(double);
    if (rows < 0 || cols < 0) {
        PyErr_SetString(PyExc_ValueError, "negative size");
        return NULL;
    }
    if (cols != 0 && rows > limit / cols)
        return PyErr_NoMemory();
    Storage *storage = (Storage *)PyType_GenericAlloc(&StorageType, rows * cols);
    if (storage == NULL)
        return NULL;
    PyObject *self = array_over(type, storage, rows, cols);
    Py_DECREF(storage);
    return self;
}

static PyObject *vec_new(PyTypeObject *type, PyObject *args, PyObject *kwds)
{
    static char *keywords[] = {"size", NULL};
    Py_ssize_t n;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "n:vec", keywords, &n))
        return NULL;
    return array_new(type, n, 1);
}

static PyObject *mat_new(PyTypeObject *type, PyObject *args, PyObject *kwds)
{
    static char *keywords[] = {"rows", "cols", NULL};
    Py_ssize_t rows, cols;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "nn:mat", keywords, &rows, &cols))
        return NULL;
    return array_new(type, rows, cols);
}

// --- element access -----------------------------------------------------------

// The index an int key gives into count elements, or -1 with an exception set.
static Py_ssize_t checked_index(PyObject *key, Py_ssize_t count)
{
    if (!PyLong_Check(key)) {
        PyErr_SetString(PyExc_TypeError, "indices must be integers");
        return -1;
    }
    Py_ssize_t i = PyLong_AsSsize_t(key);
    if (i == -1 && PyErr_Occurred())
        return -1;
    if (i < 0 || i >= count) {
        PyErr_Format(PyExc_IndexError, "index %zd exceeds max number of elements %zd", i, count);
        return -1;
    }
    return i;
}

// The element (i, j) a key (i, j) gives in a matrix, or -1 with an exception set.
static Py_ssize_t checked_location(Array *self, PyObject *key)
{
    if (!PyTuple_CheckExact(key) || PyTuple_GET_SIZE(key) != 2) {
        PyErr_SetString(PyExc_TypeError, "matrix indices are a pair (i, j)");
        return -1;
    }
    Py_ssize_t i = checked_index(PyTuple_GET_ITEM(key, 0), self->rows);
    if (i < 0)
        return -1;
    Py_ssize_t j = checked_index(PyTuple_GET_ITEM(key, 1), self->cols);
    if (j < 0)
        return -1;
    return i + j * self->rows;
}

// Stores value at element loc, or returns -1 with an exception set.
static int store(Array *self, Py_ssize_t loc, PyObject *value)
{
    if (loc < 0)
        return -1;
    if (value == NULL) {
        PyErr_SetString(PyExc_TypeError, "elements can't be deleted");
        return -1;
    }
    double x = PyFloat_AsDouble(value);
    if (x == -1.0 && PyErr_Occurred())
        return -1;
    self->data[loc] = x;
    return 0;
}

static PyObject *vec_item(Array *self, PyObject *key)
{
    Py_ssize_t i = checked_index(key, self->rows);
    return i < 0 ? NULL : PyFloat_FromDouble(self->data[i]);
}

static int vec_ass_item(Array *self, PyObject *key, PyObject *value)
{
    return store(self, checked_index(key, self->rows), value);
}

static PyObject *mat_item(Array *self, PyObject *key)
{
    Py_ssize_t loc = checked_location(self, key);
    return loc < 0 ? NULL : PyFloat_FromDouble(self->data[loc]);
}

static int mat_ass_item(Array *self, PyObject *key, PyObject *value)
{
    return store(self, checked_location(self, key), value);
}

static PyMappingMethods vec_mapping = {.mp_subscript = (binaryfunc)vec_item,
                                       .mp_ass_subscript = (objobjargproc)vec_ass_item};
static PyMappingMethods mat_mapping = {.mp_subscript = (binaryfunc)mat_item,
                                       .mp_ass_subscript = (objobjargproc)mat_ass_item};

// --- operations ---------------------------------------------------------------

static int check_count(const char *name, Py_ssize_t nargs, Py_ssize_t expected)
{
    if (nargs == expected)
        return 0;
    PyErr_Format(PyExc_TypeError, "%s takes %zd arguments (%zd given)", name, expected, nargs);
    return -1;
}

// args[i] as a container of type, or NULL with an exception set.
static Array *operand(PyObject *const *args, int i, PyTypeObject *type)
{
    if (Py_IS_TYPE(args[i], type))
        return (Array *)args[i];
    PyErr_Format(PyExc_TypeError, "argument %d must be %s", i + 1, type->tp_name);
    return NULL;
}

static int fits_blas(Py_ssize_t n)
{
    if (n <= INT_MAX)
        return 0;
    PyErr_Format(PyExc_RuntimeError, "size %zd exceeds the blas integer limit %d", n, INT_MAX);
    return -1;
}

// Whether the n elements from p and the m elements from q share any element.
static int overlaps(const double *p, Py_ssize_t n, const double *q, Py_ssize_t m)
{
    return n > 0 && m > 0 && p < q + m && q < p + n;
}

// The element count of x, after making sure y covers it; -1 with an exception set.
static Py_ssize_t covered_count(Array *x, Array *y)
{
    if (y->rows < x->rows) {
        PyErr_Format(PyExc_RuntimeError, "operand y has %zd elements, fewer than the %zd of operand x", y->rows,
                     x->rows);
        return -1;
    }
    return fits_blas(x->rows) < 0 ? -1 : x->rows;
}

static PyObject *dot(PyObject *module, PyObject *const *args, Py_ssize_t nargs)
{
    if (check_count("dot", nargs, 2) < 0)
        return NULL;
    Array *x = operand(args, 0, &VecType), *y = x ? operand(args, 1, &VecType) : NULL;
    if (y == NULL)
        return NULL;
    Py_ssize_t n = covered_count(x, y);
    if (n < 0)
        return NULL;
    return PyFloat_FromDouble(cblas_ddot((int)n, x->data, 1, y->data, 1));
}

// y <- a x + y; x's own stretch as y is scaled by 1 + a.
static PyObject *axpy(PyObject *module, PyObject *const *args, Py_ssize_t nargs)
{
    if (check_count("axpy", nargs, 3) < 0)
        return NULL;
    double a = PyFloat_AsDouble(args[0]);
    if (a == -1.0 && PyErr_Occurred())
        return NULL;
    Array *x = operand(args, 1, &VecType), *y = x ? operand(args, 2, &VecType) : NULL;
    if (y == NULL)
        return NULL;
    Py_ssize_t n = covered_count(x, y);
    if (n < 0)
        return NULL;
    if (n > 0 && x->data == y->data) {
        cblas_dscal((int)n, 1 + a, y->data, 1);
    } else if (overlaps(x->data, n, y->data, n)) {
        PyErr_SetString(PyExc_RuntimeError, "operand y overlaps operand x");
        return NULL;
    } else {
        cblas_daxpy((int)n, a, x->data, 1, y->data, 1);
    }
    return array_over(&VecType, y->storage, y->rows, 1);
}

// y <- a A x + b y.
static PyObject *gemv(PyObject *module, PyObject *const *args, Py_ssize_t nargs)
{
    if (check_count("gemv", nargs, 5) < 0)
        return NULL;
    double a = PyFloat_AsDouble(args[0]);
    if (a == -1.0 && PyErr_Occurred())
        return NULL;
    double b = PyFloat_AsDouble(args[1]);
    if (b == -1.0 && PyErr_Occurred())
        return NULL;
    Array *A = operand(args, 2, &MatType), *x = A ? operand(args, 3, &VecType) : NULL,
          *y = x ? operand(args, 4, &VecType) : NULL;
    if (y == NULL)
        return NULL;
    if (x->rows != A->cols) {
        PyErr_Format(PyExc_RuntimeError,
                     "In gemv expression y = aAx + by, matrix A dimension 1: %zd, doesn't match vector x dimension 0: %zd",
                     A->cols, x->rows);
        return NULL;
    }
    if (A->rows != y->rows) {
        PyErr_Format(PyExc_RuntimeError,
                     "In gemv expression y = aAx + by, matrix A dimension 0: %zd, doesn't match vector y dimension 0: %zd",
                     A->rows, y->rows);
        return NULL;
    }
    if (overlaps(y->data, y->rows, x->data, x->rows)) {
        PyErr_SetString(PyExc_RuntimeError, "In gemv expression y = aAx + by, vector y overlaps vector x");
        return NULL;
    }
    if (overlaps(y->data, y->rows, A->data, A->rows * A->cols)) {
        PyErr_SetString(PyExc_RuntimeError, "In gemv expression y = aAx + by, vector y overlaps matrix A");
        return NULL;
    }
    if (fits_blas(A->rows) < 0 || fits_blas(A->cols) < 0)
        return NULL;
    if (A->cols == 0)
        cblas_dscal((int)A->rows, b, y->data, 1);
    else
        cblas_dgemv(CblasColMajor, CblasNoTrans, (int)A->rows, (int)A->cols, a, A->data,
                    A->rows > 1 ? (int)A->rows : 1, x->data, 1, b, y->data, 1);
    return array_over(&VecType, y->storage, y->rows, 1);
}

// --- the module -----------------------------------------------------------------

static PyTypeObject StorageType = {
    PyVarObject_HEAD_INIT(NULL, 0).tp_name = "floor.storage",
    .tp_basicsize = sizeof(Storage),
    .tp_itemsize = sizeof(double),
    .tp_dealloc = storage_dealloc,
    .tp_flags = Py_TPFLAGS_DEFAULT,
};

static PyTypeObject VecType = {
    PyVarObject_HEAD_INIT(NULL, 0).tp_name = "floor.vec",
    .tp_basicsize = sizeof(Array),
    .tp_dealloc = (destructor)array_dealloc,
    .tp_as_mapping = &vec_mapping,
    .tp_flags = Py_TPFLAGS_DEFAULT,
    .tp_new = vec_new,
};

static PyTypeObject MatType = {
    PyVarObject_HEAD_INIT(NULL, 0).tp_name = "floor.mat",
    .tp_basicsize = sizeof(Array),
    .tp_dealloc = (destructor)array_dealloc,
    .tp_as_mapping = &mat_mapping,
    .tp_flags = Py_TPFLAGS_DEFAULT,
    .tp_new = mat_new,
};

static PyMethodDef methods[] = {
    {"dot", (PyCFunction)(void (*)(void))dot, METH_FASTCALL, "dot(x, y): sum of x[i] y[i]"},
    {"axpy", (PyCFunction)(void (*)(void))axpy, METH_FASTCALL, "axpy(a, x, y): y <- a x + y, returns y"},
    {"gemv", (PyCFunction)(void (*)(void))gemv, METH_FASTCALL, "gemv(a, b, A, x, y): y <- a A x + b y, returns y"},
    {NULL, NULL, 0, NULL},
};

static struct PyModuleDef module = {PyModuleDef_HEAD_INIT, .m_name = "floor", .m_size = -1, .m_methods = methods};

PyMODINIT_FUNC PyInit_floor(void)
{
    if (PyType_Ready(&StorageType) < 0 || PyType_Ready(&VecType) < 0 || PyType_Ready(&MatType) < 0)
        return NULL;
    PyObject *m = PyModule_Create(&module);
    if (m == NULL)
        return NULL;
    if (PyModule_AddType(m, &VecType) < 0 || PyModule_AddType(m, &MatType) < 0) {
        Py_DECREF(m);
        return NULL;
    }
    return m;
}
