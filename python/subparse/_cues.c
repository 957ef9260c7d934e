/* subparse._cues: the Cue type, and the reading of a document's cues into
 * Cues, a batch at a time.
 *
 * Everything else of the package calls the library through ctypes; reading
 * cues is the one path where ctypes' cost per call (a microsecond, against
 * the library's nanoseconds) would make a large file slow to walk. This
 * module is built against subparse.h but not linked with libsubparse: the
 * package hands it the addresses of the accessors it calls (bind()), taken
 * from the library ctypes loaded, so that both always use one library.
 *
 * A Cue holds only C numbers, exact str and a tuple of exact str: it can be
 * part of no reference cycle, so it stays out of the garbage collector. */
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <structmember.h>

#include <stdint.h>
#include <string.h>

#include "subparse.h"

/* ---- the accessors, bound once from the library ctypes loaded ---------- */

typedef struct {
  int32_t (*count)(const SubDoc *);
  int32_t (*start_ms)(const SubDoc *, int32_t);
  int32_t (*end_ms)(const SubDoc *, int32_t);
  int32_t (*line_count)(const SubDoc *, int32_t);
  const char *(*line)(const SubDoc *, int32_t, int32_t);
  int32_t (*is_danmu)(const SubDoc *, int32_t);
  int32_t (*danmu_mode)(const SubDoc *, int32_t);
  uint32_t (*danmu_color)(const SubDoc *, int32_t);
  float (*danmu_fontsize)(const SubDoc *, int32_t);
  const char *(*id)(const SubDoc *, int32_t);
  const char *(*settings)(const SubDoc *, int32_t);
} Accessors;

/* The names bind() takes, in the order of Accessors' members. */
static const char *const accessor_names[] = {
    "sub_doc_cue_count",      "sub_doc_cue_start_ms",    "sub_doc_cue_end_ms",
    "sub_doc_cue_line_count", "sub_doc_cue_line",        "sub_doc_cue_is_danmu",
    "sub_doc_cue_danmu_mode", "sub_doc_cue_danmu_color", "sub_doc_cue_danmu_fontsize",
    "sub_doc_cue_id",         "sub_doc_cue_settings",
};
#define ACCESSOR_COUNT (sizeof accessor_names / sizeof accessor_names[0])

/* Set once by bind() while holding the GIL; read only while holding it. */
static Accessors accessors;
static int accessors_bound;

/* Compile-time proof that the members have the header's types. */
static void accessors_typecheck(void) {
  Accessors a = {sub_doc_cue_count,      sub_doc_cue_start_ms,    sub_doc_cue_end_ms,
                 sub_doc_cue_line_count, sub_doc_cue_line,        sub_doc_cue_is_danmu,
                 sub_doc_cue_danmu_mode, sub_doc_cue_danmu_color, sub_doc_cue_danmu_fontsize,
                 sub_doc_cue_id,         sub_doc_cue_settings};
  (void)a;
}

/* ---- UTF-8 to str -------------------------------------------------------- */

/* Faster than the interpreter's decoder on the short texts of cues, which
 * mix ASCII with other letters: one pass checks the bytes, counts the
 * characters and finds the widest lead byte, which fixes the string's kind
 * exactly (strings must be made in the narrowest kind that holds them); a
 * second writes the characters. Ill-formed bytes, which only a classic
 * decoding lets through, go to the interpreter's decoder, which shows them
 * as U+FFFD. */

/* The length of the well-formed sequence at p[0..n) (n > 0, p[0] >= 0x80),
 * or 0. */
static inline Py_ssize_t utf8_sequence(const unsigned char *p, Py_ssize_t n) {
  const unsigned lead = p[0];
  Py_ssize_t len;
  unsigned low = 0x80, high = 0xBF; /* the second byte's range */
  if (lead >= 0xC2 && lead <= 0xDF) {
    len = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    len = 3;
    if (lead == 0xE0) low = 0xA0;  /* overlong */
    if (lead == 0xED) high = 0x9F; /* surrogates */
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    len = 4;
    if (lead == 0xF0) low = 0x90;  /* overlong */
    if (lead == 0xF4) high = 0x8F; /* past U+10FFFF */
  } else {
    return 0;
  }
  if (n < len || p[1] < low || p[1] > high) return 0;
  for (Py_ssize_t k = 2; k < len; ++k)
    if ((p[k] & 0xC0) != 0x80) return 0;
  return len;
}

/* The count of ASCII bytes that begin the eight at p (8 when all are). */
static inline Py_ssize_t ascii_prefix8(const unsigned char *p) {
  uint64_t word;
  memcpy(&word, p, sizeof word);
  const uint64_t high = word & UINT64_C(0x8080808080808080);
  /* The first byte in memory is the lowest in a little-endian word, the
   * highest in a big-endian one. */
  if (!high) return 8;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  return (Py_ssize_t)(__builtin_clzll(high) / 8);
#else
  return (Py_ssize_t)(__builtin_ctzll(high) / 8);
#endif
}

/* Counts the characters of p[0..n) into *chars and raises *widest to its
 * widest lead byte; 0 when the bytes are not well-formed UTF-8. */
static int utf8_measure(const unsigned char *p, Py_ssize_t n, Py_ssize_t *chars, unsigned *widest) {
  Py_ssize_t count = 0;
  for (Py_ssize_t i = 0; i < n;) {
    const Py_ssize_t ascii = i + 8 <= n ? ascii_prefix8(p + i) : p[i] < 0x80;
    if (ascii) {
      i += ascii;
      count += ascii;
      continue;
    }
    const Py_ssize_t len = utf8_sequence(p + i, n - i);
    if (!len) return 0;
    if (p[i] > *widest) *widest = p[i];
    i += len;
    ++count;
  }
  *chars = count;
  return 1;
}

/* The widest lead byte gives the widest character's range: none (ASCII),
 * C2-C3 (to U+00FF), up to EF (to U+FFFF), F0-F4 (beyond). */
static Py_UCS4 utf8_maxchar(unsigned widest) {
  return !widest ? 0x7F : widest <= 0xC3 ? 0xFF : widest <= 0xEF ? 0xFFFF : 0x10FFFF;
}

/* The code point of the well-formed sequence at *p, moving *p past it. */
static inline Py_UCS4 utf8_next(const unsigned char **p) {
  const unsigned char *q = *p;
  const unsigned lead = q[0];
  if (lead < 0x80) {
    *p = q + 1;
    return lead;
  }
  if (lead < 0xE0) {
    *p = q + 2;
    return ((lead & 0x1Fu) << 6) | (q[1] & 0x3Fu);
  }
  if (lead < 0xF0) {
    *p = q + 3;
    return ((lead & 0x0Fu) << 12) | ((q[1] & 0x3Fu) << 6) | (q[2] & 0x3Fu);
  }
  *p = q + 4;
  return ((lead & 0x07u) << 18) | ((q[1] & 0x3Fu) << 12) | ((q[2] & 0x3Fu) << 6) | (q[3] & 0x3Fu);
}

/* Writes the well-formed bytes p[0..n) into u from character `at` on. */
static void utf8_fill(PyObject *u, Py_ssize_t at, const unsigned char *p, Py_ssize_t n) {
  const unsigned char *const end = p + n;
  switch (PyUnicode_KIND(u)) {
    case PyUnicode_1BYTE_KIND:
      if (PyUnicode_IS_ASCII(u)) {
        memcpy(PyUnicode_1BYTE_DATA(u) + at, p, (size_t)n);
      } else {
        for (Py_UCS1 *to = PyUnicode_1BYTE_DATA(u) + at; p < end;) *to++ = (Py_UCS1)utf8_next(&p);
      }
      break;
    case PyUnicode_2BYTE_KIND:
      for (Py_UCS2 *to = PyUnicode_2BYTE_DATA(u) + at; p < end;) *to++ = (Py_UCS2)utf8_next(&p);
      break;
    default:
      for (Py_UCS4 *to = PyUnicode_4BYTE_DATA(u) + at; p < end;) *to++ = utf8_next(&p);
      break;
  }
}

/* A str of the bytes at s[0..n). */
static PyObject *library_text(const char *s, Py_ssize_t n) {
  const unsigned char *p = (const unsigned char *)s;
  Py_ssize_t chars = 0;
  unsigned widest = 0;
  if (!utf8_measure(p, n, &chars, &widest)) return PyUnicode_DecodeUTF8(s, n, "replace");
  PyObject *u = PyUnicode_New(chars, utf8_maxchar(widest));
  if (u) utf8_fill(u, 0, p, n);
  return u;
}

/* ---- Cue ----------------------------------------------------------------- */

/* Every field is an object made once: start, end and text, which a walk over
 * the cues reads most, are member slots the interpreter reads fastest. The
 * lines are made from the text when asked for: ob_size counts them, and
 * line_ends holds where each ends in the text (a line feed between two). A
 * Cue made from Python holds its lines tuple (ob_size 0). */
typedef struct {
  PyObject_VAR_HEAD PyObject *start, *end; /* int */
  PyObject *text;                          /* exact str */
  PyObject *lines;                         /* tuple of exact str; NULL until asked for */
  PyObject *id, *settings;                 /* exact str, or NULL for None */
  PyObject *mode, *color, *fontsize;       /* int, int, float, or NULL for None */
  Py_ssize_t line_ends[1];
} CueObject;

static PyTypeObject CueType;

static const char *const cue_fields[] = {"start", "end",   "lines",    "id", "settings",
                                         "mode",  "color", "fontsize", NULL};
#define CUE_FIELD_COUNT 8

/* A new Cue with room for the ends of `lines` lines; every field NULL. */
static CueObject *cue_alloc(Py_ssize_t lines) {
  CueObject *cue = PyObject_NewVar(CueObject, &CueType, lines);
  if (!cue) return NULL;
  cue->start = cue->end = cue->text = cue->lines = NULL;
  cue->id = cue->settings = cue->mode = cue->color = cue->fontsize = NULL;
  return cue;
}

static void cue_dealloc(CueObject *cue) {
  Py_XDECREF(cue->start);
  Py_XDECREF(cue->end);
  Py_XDECREF(cue->text);
  Py_XDECREF(cue->lines);
  Py_XDECREF(cue->id);
  Py_XDECREF(cue->settings);
  Py_XDECREF(cue->mode);
  Py_XDECREF(cue->color);
  Py_XDECREF(cue->fontsize);
  PyObject_Free(cue);
}

/* The lines tuple, cut from the text on first use. */
static PyObject *cue_lines(CueObject *cue, void *unused) {
  (void)unused;
  if (!cue->lines) {
    const Py_ssize_t n = Py_SIZE(cue);
    PyObject *t = PyTuple_New(n);
    for (Py_ssize_t k = 0, begin = 0; t && k < n; begin = cue->line_ends[k] + 1, ++k) {
      PyObject *line =
          n == 1 ? Py_NewRef(cue->text) : PyUnicode_Substring(cue->text, begin, cue->line_ends[k]);
      if (!line)
        Py_CLEAR(t);
      else
        PyTuple_SET_ITEM(t, k, line);
    }
    if (!t) return NULL;
    /* PyTuple_New may run the collector, and a finalizer may have asked
     * for these lines meanwhile: keep the tuple it made. */
    if (cue->lines)
      Py_DECREF(t);
    else
      cue->lines = t;
  }
  return Py_NewRef(cue->lines);
}

/* Field k of cue_fields as a new reference (None for an absent one). */
static PyObject *cue_field(CueObject *cue, int k) {
  if (k == 2) return cue_lines(cue, NULL);
  PyObject *const values[CUE_FIELD_COUNT] = {cue->start,    cue->end,  NULL,       cue->id,
                                             cue->settings, cue->mode, cue->color, cue->fontsize};
  return Py_NewRef(values[k] ? values[k] : Py_None);
}

/* All fields as a tuple, in cue_fields' order. */
static PyObject *cue_astuple(CueObject *cue) {
  PyObject *t = PyTuple_New(CUE_FIELD_COUNT);
  for (int k = 0; t && k < CUE_FIELD_COUNT; ++k) {
    PyObject *v = cue_field(cue, k);
    if (!v)
      Py_CLEAR(t);
    else
      PyTuple_SET_ITEM(t, k, v);
  }
  return t;
}

/* An exact str for `value` (a str subclass is copied, so that nothing
 * reachable from a Cue can refer back to it: Cues stay out of the garbage
 * collector); NULL with TypeError for anything else. */
static PyObject *exact_str(PyObject *value, const char *what) {
  if (PyUnicode_CheckExact(value)) return Py_NewRef(value);
  if (PyUnicode_Check(value)) return PyUnicode_FromObject(value);
  PyErr_Format(PyExc_TypeError, "Cue %s must be a str, not %.100s", what, Py_TYPE(value)->tp_name);
  return NULL;
}

/* An exact int for `value`; NULL with TypeError for anything else. */
static PyObject *exact_int(PyObject *value, const char *what) {
  if (!PyIndex_Check(value)) {
    PyErr_Format(PyExc_TypeError, "Cue %s must be an int, not %.100s", what,
                 Py_TYPE(value)->tp_name);
    return NULL;
  }
  return PyNumber_Index(value); /* an exact int */
}

/* An exact float for a real number (not for a str, which float() would
 * take); NULL with TypeError for anything else. */
static PyObject *exact_float(PyObject *value, const char *what) {
  if (PyFloat_CheckExact(value)) return Py_NewRef(value);
  const double real = PyFloat_AsDouble(value); /* TypeError for a str */
  if (real == -1.0 && PyErr_Occurred()) {
    if (PyErr_ExceptionMatches(PyExc_TypeError)) {
      PyErr_Clear();
      PyErr_Format(PyExc_TypeError, "Cue %s must be a real number, not %.100s", what,
                   Py_TYPE(value)->tp_name);
    }
    return NULL;
  }
  return PyFloat_FromDouble(real);
}

/* The lines as a tuple of exact str; a str itself is refused (it would
 * otherwise become one line per character). */
static PyObject *lines_tuple(PyObject *lines) {
  if (PyUnicode_Check(lines) || PyBytes_Check(lines)) {
    PyErr_SetString(PyExc_TypeError, "Cue lines must be a sequence of str, not a single string");
    return NULL;
  }
  PyObject *given = PySequence_Tuple(lines);
  if (!given) return NULL;
  const Py_ssize_t n = PyTuple_GET_SIZE(given);
  PyObject *t = PyTuple_New(n);
  for (Py_ssize_t k = 0; t && k < n; ++k) {
    PyObject *line = exact_str(PyTuple_GET_ITEM(given, k), "line");
    if (!line)
      Py_CLEAR(t);
    else
      PyTuple_SET_ITEM(t, k, line);
  }
  Py_DECREF(given);
  return t;
}

/* The lines joined with line feeds. */
static PyObject *lines_text(PyObject *lines) {
  if (PyTuple_GET_SIZE(lines) == 1) return Py_NewRef(PyTuple_GET_ITEM(lines, 0));
  PyObject *newline = PyUnicode_FromStringAndSize("\n", 1);
  PyObject *text = newline ? PyUnicode_Join(newline, lines) : NULL;
  Py_XDECREF(newline);
  return text;
}

static PyObject *cue_new(PyTypeObject *type, PyObject *args, PyObject *kwargs) {
  (void)type;
  PyObject *v[CUE_FIELD_COUNT] = {NULL};
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOO|OOOOO:Cue", (char **)cue_fields, &v[0], &v[1],
                                   &v[2], &v[3], &v[4], &v[5], &v[6], &v[7]))
    return NULL;
  for (int k = 3; k < CUE_FIELD_COUNT; ++k)
    if (v[k] == Py_None) v[k] = NULL;
  CueObject *cue = cue_alloc(0);
  if (!cue) return NULL;
  if (!(cue->start = exact_int(v[0], "start")) || !(cue->end = exact_int(v[1], "end")) ||
      !(cue->lines = lines_tuple(v[2])) || !(cue->text = lines_text(cue->lines)) ||
      (v[3] && !(cue->id = exact_str(v[3], "id"))) ||
      (v[4] && !(cue->settings = exact_str(v[4], "settings"))) ||
      (v[5] && !(cue->mode = exact_int(v[5], "mode"))) ||
      (v[6] && !(cue->color = exact_int(v[6], "color"))) ||
      (v[7] && !(cue->fontsize = exact_float(v[7], "fontsize")))) {
    Py_DECREF(cue);
    return NULL;
  }
  return (PyObject *)cue;
}

static PyObject *cue_is_danmaku(CueObject *cue, void *unused) {
  (void)unused;
  return PyBool_FromLong(cue->mode != NULL);
}

#define MEMBER(name, kind, doc) \
  { #name, kind, offsetof(CueObject, name), READONLY, doc }
static PyMemberDef cue_members[] = {
    MEMBER(start, T_OBJECT_EX, "Start time in milliseconds (negative after a shift past zero)."),
    MEMBER(end, T_OBJECT_EX, "End time in milliseconds."),
    MEMBER(text, T_OBJECT_EX, "The lines joined with line feeds."),
    MEMBER(id, T_OBJECT, "WebVTT's cue identifier under the standard reading, else None."),
    MEMBER(settings, T_OBJECT,
           "WebVTT's cue settings (\"name:value\" pairs) under the standard reading, else None."),
    MEMBER(mode, T_OBJECT,
           "A danmaku comment's mode (1 scrolls, 4 bottom, 5 top, ...), else None."),
    MEMBER(color, T_OBJECT, "A danmaku comment's colour as 0xRRGGBB, else None."),
    MEMBER(fontsize, T_OBJECT, "A danmaku comment's size (25 is normal), else None."),
    {NULL, 0, 0, 0, NULL},
};
#undef MEMBER

static PyGetSetDef cue_getset[] = {
    {"lines", (getter)cue_lines, NULL,
     "The text lines, a tuple of str (a line may hold a line break of its own).", NULL},
    {"is_danmaku", (getter)cue_is_danmaku, NULL, "True for a danmaku comment (Bilibili, AcFun).",
     NULL},
    {NULL, NULL, NULL, NULL, NULL},
};

static PyObject *cue_repr(CueObject *cue) {
  PyObject *f = cue_astuple(cue);
  if (!f) return NULL;
  PyObject *r = PyUnicode_FromFormat(
      "Cue(start=%R, end=%R, lines=%R, id=%R, settings=%R, mode=%R, color=%R, fontsize=%R)",
      PyTuple_GET_ITEM(f, 0), PyTuple_GET_ITEM(f, 1), PyTuple_GET_ITEM(f, 2),
      PyTuple_GET_ITEM(f, 3), PyTuple_GET_ITEM(f, 4), PyTuple_GET_ITEM(f, 5),
      PyTuple_GET_ITEM(f, 6), PyTuple_GET_ITEM(f, 7));
  Py_DECREF(f);
  return r;
}

/* Cues are equal when every field is; the hash is that of the fields. */
static PyObject *cue_richcompare(PyObject *a, PyObject *b, int op) {
  if ((op != Py_EQ && op != Py_NE) || !PyObject_TypeCheck(a, &CueType) ||
      !PyObject_TypeCheck(b, &CueType))
    Py_RETURN_NOTIMPLEMENTED;
  PyObject *ta = cue_astuple((CueObject *)a);
  PyObject *tb = ta ? cue_astuple((CueObject *)b) : NULL;
  PyObject *result = tb ? PyObject_RichCompare(ta, tb, op) : NULL;
  Py_XDECREF(ta);
  Py_XDECREF(tb);
  return result;
}

static Py_hash_t cue_hash(CueObject *cue) {
  PyObject *t = cue_astuple(cue);
  if (!t) return -1;
  const Py_hash_t h = PyObject_Hash(t);
  Py_DECREF(t);
  return h;
}

static PyObject *cue_reduce(CueObject *cue, PyObject *unused) {
  (void)unused;
  PyObject *fields = cue_astuple(cue);
  return fields ? Py_BuildValue("(ON)", (PyObject *)&CueType, fields) : NULL;
}

static PyObject *cue_replace(CueObject *cue, PyObject *args, PyObject *kwargs) {
  if (PyTuple_GET_SIZE(args) != 0) {
    PyErr_SetString(PyExc_TypeError, "Cue.replace() takes keyword arguments only");
    return NULL;
  }
  PyObject *fields = cue_astuple(cue);
  if (!fields) return NULL;
  PyObject *merged = PyDict_New();
  for (int k = 0; merged && k < CUE_FIELD_COUNT; ++k)
    if (PyDict_SetItemString(merged, cue_fields[k], PyTuple_GET_ITEM(fields, k)) < 0)
      Py_CLEAR(merged);
  Py_DECREF(fields);
  if (merged && kwargs && PyDict_Update(merged, kwargs) < 0) Py_CLEAR(merged);
  if (!merged) return NULL;
  PyObject *empty = PyTuple_New(0);
  PyObject *result = empty ? cue_new(&CueType, empty, merged) : NULL;
  Py_XDECREF(empty);
  Py_DECREF(merged);
  return result;
}

static PyMethodDef cue_methods[] = {
    {"__reduce__", (PyCFunction)cue_reduce, METH_NOARGS, NULL},
    {"replace", (PyCFunction)(void (*)(void))cue_replace, METH_VARARGS | METH_KEYWORDS,
     "replace(**changes) -> Cue\n\nA copy of this cue with the fields named changed."},
    {NULL, NULL, 0, NULL},
};

PyDoc_STRVAR(cue_doc,
             "Cue(start, end, lines, id=None, settings=None, mode=None, color=None, "
             "fontsize=None)\n\n"
             "One timed cue, a value of its own: it stays valid after the Subtitles it came\n"
             "from is changed or closed. Immutable, hashable, equal to a Cue with the same\n"
             "fields; replace(**changes) makes a changed copy.\n\n"
             "start, end: times in milliseconds (may be negative after a shift).\n"
             "lines: the cue's text lines; text: them joined with line feeds.\n"
             "id, settings: WebVTT's cue identifier and settings (\"name:value\" pairs)\n"
             "under the standard reading; None otherwise.\n"
             "mode, color, fontsize: a danmaku comment's mode (1 scrolls, 4 bottom,\n"
             "5 top, ...), colour (0xRRGGBB) and size (25 is normal); None for the cues\n"
             "of other formats. is_danmaku: whether mode is set.");

static PyTypeObject CueType = {
    PyVarObject_HEAD_INIT(NULL, 0).tp_name = "subparse.Cue",
    .tp_basicsize = offsetof(CueObject, line_ends),
    .tp_itemsize = sizeof(Py_ssize_t),
    .tp_dealloc = (destructor)cue_dealloc,
    .tp_repr = (reprfunc)cue_repr,
    .tp_hash = (hashfunc)cue_hash,
    .tp_flags = Py_TPFLAGS_DEFAULT,
    .tp_doc = cue_doc,
    .tp_richcompare = cue_richcompare,
    .tp_methods = cue_methods,
    .tp_members = cue_members,
    .tp_getset = cue_getset,
    .tp_new = cue_new,
};

/* ---- reading a document ------------------------------------------------- */

static PyObject *library_str(const char *s) { return library_text(s, (Py_ssize_t)strlen(s)); }

/* What the first pass learns of one line. */
typedef struct {
  const unsigned char *bytes;
  Py_ssize_t size, chars;
} LineSpan;

enum { SPANS_ON_STACK = 8 };

/* The text of a cue's n lines (joined with line feeds) into cue->text and
 * where each ends into cue->line_ends; -1 with an exception set. */
static int cue_text_from_doc(CueObject *cue, const SubDoc *doc, int32_t i, int32_t n,
                             LineSpan *spans) {
  Py_ssize_t chars = n > 0 ? n - 1 : 0; /* the line feeds */
  unsigned widest = 0;
  int well_formed = 1;
  for (int32_t k = 0; k < n; ++k) {
    const char *line = accessors.line(doc, i, k);
    spans[k].bytes = (const unsigned char *)(line ? line : "");
    spans[k].size = (Py_ssize_t)strlen((const char *)spans[k].bytes);
    /* After an ill-formed line the counts are not needed (nor set). */
    well_formed =
        well_formed && utf8_measure(spans[k].bytes, spans[k].size, &spans[k].chars, &widest);
    if (well_formed) chars += spans[k].chars;
  }
  if (!well_formed) {
    /* The interpreter's decoder, line by line, for its U+FFFD. */
    PyObject *lines = PyTuple_New(n);
    for (int32_t k = 0; lines && k < n; ++k) {
      PyObject *line = PyUnicode_DecodeUTF8((const char *)spans[k].bytes, spans[k].size, "replace");
      if (!line)
        Py_CLEAR(lines);
      else
        PyTuple_SET_ITEM(lines, k, line);
    }
    if (!lines) return -1;
    Py_ssize_t at = 0;
    for (int32_t k = 0; k < n; ++k) {
      at += PyUnicode_GET_LENGTH(PyTuple_GET_ITEM(lines, k));
      cue->line_ends[k] = at++;
    }
    cue->lines = lines;
    cue->text = n == 0 ? PyUnicode_New(0, 0) : lines_text(lines);
    return cue->text ? 0 : -1;
  }
  cue->text = PyUnicode_New(chars, utf8_maxchar(widest));
  if (!cue->text) return -1;
  Py_ssize_t at = 0;
  for (int32_t k = 0; k < n; ++k) {
    utf8_fill(cue->text, at, spans[k].bytes, spans[k].size);
    at += spans[k].chars;
    cue->line_ends[k] = at;
    if (k + 1 < n)
      PyUnicode_WRITE(PyUnicode_KIND(cue->text), PyUnicode_DATA(cue->text), at++, '\n');
  }
  return 0;
}

/* Cue i of doc as a new Cue. */
static PyObject *cue_from_doc(const SubDoc *doc, int32_t i) {
  const int32_t count = accessors.line_count(doc, i);
  const int32_t n = count > 0 ? count : 0;
  CueObject *cue = cue_alloc(n);
  if (!cue) return NULL;
  LineSpan stack_spans[SPANS_ON_STACK];
  LineSpan *spans = n <= SPANS_ON_STACK ? stack_spans : PyMem_New(LineSpan, (size_t)n);
  const char *id = NULL, *settings = NULL;
  if (!spans) {
    PyErr_NoMemory();
    goto fail;
  }
  const int text_made = cue_text_from_doc(cue, doc, i, n, spans);
  if (spans != stack_spans) PyMem_Free(spans);
  if (text_made < 0) goto fail;
  id = accessors.id(doc, i);
  settings = accessors.settings(doc, i);
  if (!(cue->start = PyLong_FromLong(accessors.start_ms(doc, i))) ||
      !(cue->end = PyLong_FromLong(accessors.end_ms(doc, i))) ||
      (id && !(cue->id = library_str(id))) ||
      (settings && !(cue->settings = library_str(settings))))
    goto fail;
  if (accessors.is_danmu(doc, i) &&
      (!(cue->mode = PyLong_FromLong(accessors.danmu_mode(doc, i))) ||
       !(cue->color = PyLong_FromUnsignedLong(accessors.danmu_color(doc, i))) ||
       !(cue->fontsize = PyFloat_FromDouble(accessors.danmu_fontsize(doc, i)))))
    goto fail;
  return (PyObject *)cue;
fail:
  Py_DECREF(cue);
  return NULL;
}

PyDoc_STRVAR(read_doc,
             "read(doc, first, stop) -> list[Cue]\n\n"
             "Cues first to stop - 1 of the document at address doc. The caller holds the\n"
             "document open (and unchanged) for the call, and 0 <= first <= stop <= its count.");

static PyObject *cues_read(PyObject *module, PyObject *const *args, Py_ssize_t nargs) {
  (void)module;
  if (nargs != 3) {
    PyErr_SetString(PyExc_TypeError, "read() takes doc, first and stop");
    return NULL;
  }
  if (!accessors_bound) {
    PyErr_SetString(PyExc_RuntimeError, "subparse._cues: bind() was not called");
    return NULL;
  }
  const SubDoc *doc = (const SubDoc *)PyLong_AsVoidPtr(args[0]);
  if (!doc && PyErr_Occurred()) return NULL;
  const Py_ssize_t first = PyLong_AsSsize_t(args[1]);
  if (first == -1 && PyErr_Occurred()) return NULL;
  const Py_ssize_t stop = PyLong_AsSsize_t(args[2]);
  if (stop == -1 && PyErr_Occurred()) return NULL;
  if (!doc || first < 0 || stop < first || stop > accessors.count(doc)) {
    PyErr_SetString(PyExc_IndexError, "read(): no document, or cues out of range");
    return NULL;
  }
  PyObject *list = PyList_New(stop - first);
  for (Py_ssize_t i = first; list && i < stop; ++i) {
    PyObject *cue = cue_from_doc(doc, (int32_t)i);
    if (!cue)
      Py_CLEAR(list);
    else
      PyList_SET_ITEM(list, i - first, cue);
  }
  return list;
}

PyDoc_STRVAR(bind_doc,
             "bind(addresses) -> None\n\n"
             "Takes the addresses of the library's accessors, a mapping from their names\n"
             "(sub_doc_cue_count, sub_doc_cue_start_ms, ...) to ints, as ctypes gives them.");

static PyObject *cues_bind(PyObject *module, PyObject *addresses) {
  (void)module;
  if (!PyDict_Check(addresses)) {
    PyErr_SetString(PyExc_TypeError, "bind() takes a dict of addresses");
    return NULL;
  }
  void *found[ACCESSOR_COUNT];
  for (size_t k = 0; k < ACCESSOR_COUNT; ++k) {
    PyObject *address = PyDict_GetItemString(addresses, accessor_names[k]);
    if (!address) {
      PyErr_Format(PyExc_KeyError, "bind(): no address for %s", accessor_names[k]);
      return NULL;
    }
    found[k] = PyLong_AsVoidPtr(address);
    if (!found[k]) {
      if (!PyErr_Occurred())
        PyErr_Format(PyExc_ValueError, "bind(): %s is at address 0", accessor_names[k]);
      return NULL;
    }
  }
  /* Data and function pointers have one size on every platform the
   * package builds for; each member is a pointer-sized slot. */
  Accessors bound;
  _Static_assert(sizeof bound == ACCESSOR_COUNT * sizeof(void *), "one slot per accessor");
  memcpy(&bound, found, sizeof bound);
  accessors = bound;
  accessors_bound = 1;
  Py_RETURN_NONE;
}

static PyMethodDef cues_methods[] = {
    {"read", (PyCFunction)(void (*)(void))cues_read, METH_FASTCALL, read_doc},
    {"bind", (PyCFunction)cues_bind, METH_O, bind_doc},
    {NULL, NULL, 0, NULL},
};

static struct PyModuleDef cues_module = {
    PyModuleDef_HEAD_INIT,
    "subparse._cues",
    "The Cue type and the reading of a document's cues (private to subparse).",
    -1,
    cues_methods,
    NULL,
    NULL,
    NULL,
    NULL,
};

PyMODINIT_FUNC PyInit__cues(void) {
  (void)accessors_typecheck;
  if (PyType_Ready(&CueType) < 0) return NULL;
  PyObject *match_args =
      Py_BuildValue("(ssssssss)", cue_fields[0], cue_fields[1], cue_fields[2], cue_fields[3],
                    cue_fields[4], cue_fields[5], cue_fields[6], cue_fields[7]);
  if (!match_args || PyDict_SetItemString(CueType.tp_dict, "__match_args__", match_args) < 0) {
    Py_XDECREF(match_args);
    return NULL;
  }
  Py_DECREF(match_args);
  PyType_Modified(&CueType);
  PyObject *module = PyModule_Create(&cues_module);
  if (!module) return NULL;
  PyObject *names = PyTuple_New((Py_ssize_t)ACCESSOR_COUNT);
  for (size_t k = 0; names && k < ACCESSOR_COUNT; ++k) {
    PyObject *name = PyUnicode_FromString(accessor_names[k]);
    if (!name)
      Py_CLEAR(names);
    else
      PyTuple_SET_ITEM(names, (Py_ssize_t)k, name);
  }
  Py_INCREF(&CueType);
  if (PyModule_AddObject(module, "Cue", (PyObject *)&CueType) < 0) {
    Py_DECREF(&CueType);
    Py_XDECREF(names);
    Py_DECREF(module);
    return NULL;
  }
  /* The names bind() needs, for the package to look up. */
  if (!names || PyModule_AddObject(module, "ACCESSORS", names) < 0) {
    Py_XDECREF(names);
    Py_DECREF(module);
    return NULL;
  }
  return module;
}
