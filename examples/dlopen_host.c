/*
 * dlopen_host: loads the library at run time by path, the way a player loads
 * a plugin, resolves every function it uses by name and prints each cue.
 * Nothing of the library is linked in; only the header's types are used.
 * Usage: dlopen_host LIBRARY FILE
 */
#include <dlfcn.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <subparse.h>

/* The functions this host calls, resolved from the loaded library. */
struct subparse_api {
  int32_t (*parse)(const void *, size_t, int32_t, const char *);
  const char *(*format_name)(int32_t);
  int32_t (*detected_format)(void);
  const char *(*last_error)(void);
  int32_t (*cue_count)(void);
  int32_t (*cue_start_ms)(int32_t);
  int32_t (*cue_end_ms)(int32_t);
  int32_t (*cue_line_count)(int32_t);
  const char *(*cue_line)(int32_t, int32_t);
  int32_t (*cue_is_danmu)(int32_t);
  const char *(*result_json)(void);
  void (*clear)(void);
};

/* Where each function's address goes. */
#define API_SLOT(name, field) \
  { name, offsetof(struct subparse_api, field) }
static const struct {
  const char *name;
  size_t offset;
} api_slots[] = {
    API_SLOT("sub_parse", parse),
    API_SLOT("sub_format_name", format_name),
    API_SLOT("sub_detected_format", detected_format),
    API_SLOT("sub_last_error", last_error),
    API_SLOT("sub_cue_count", cue_count),
    API_SLOT("sub_cue_start_ms", cue_start_ms),
    API_SLOT("sub_cue_end_ms", cue_end_ms),
    API_SLOT("sub_cue_line_count", cue_line_count),
    API_SLOT("sub_cue_line", cue_line),
    API_SLOT("sub_cue_is_danmu", cue_is_danmu),
    API_SLOT("sub_result_json", result_json),
    API_SLOT("sub_clear", clear),
};

/* Resolves every function of `api` from `lib`; 0 when one is missing. The
 * address dlsym returns is copied into the function pointer byte for byte,
 * as POSIX guarantees the two have the same representation. */
static int load_api(void *lib, struct subparse_api *api) {
  size_t i;
  for (i = 0; i < sizeof api_slots / sizeof api_slots[0]; i++) {
    void *sym = dlsym(lib, api_slots[i].name);
    if (!sym) {
      fprintf(stderr, "dlopen_host: %s\n", dlerror());
      return 0;
    }
    memcpy((char *)api + api_slots[i].offset, &sym, sizeof sym);
  }
  return 1;
}

/* Reads the whole file into a heap block; NULL on failure. */
static char *read_file(const char *path, size_t *len) {
  FILE *f = fopen(path, "rb");
  char *data = NULL;
  long size;
  if (!f) return NULL;
  if (fseek(f, 0, SEEK_END) == 0 && (size = ftell(f)) >= 0 && fseek(f, 0, SEEK_SET) == 0 &&
      (data = malloc((size_t)size + 1)) != NULL &&
      fread(data, 1, (size_t)size, f) == (size_t)size) {
    *len = (size_t)size;
  } else {
    free(data);
    data = NULL;
  }
  fclose(f);
  return data;
}

int main(int argc, char **argv) {
  struct subparse_api api = {0};
  void *lib;
  char *data;
  size_t len = 0;
  int32_t rc, i, k;
  if (argc != 3) {
    fprintf(stderr, "usage: dlopen_host LIBRARY FILE\n");
    return 64;
  }
  lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!lib) {
    fprintf(stderr, "dlopen_host: %s\n", dlerror());
    return 1;
  }
  if (!load_api(lib, &api)) {
    dlclose(lib);
    return 1;
  }
  data = read_file(argv[2], &len);
  if (!data) {
    perror(argv[2]);
    dlclose(lib);
    return 66;
  }
  rc = api.parse(data, len, -1, NULL);
  free(data);
  if (rc != 0) {
    fprintf(stderr, "dlopen_host: %s: %s (code %d)\n", argv[2], api.last_error(), (int)rc);
  } else {
    printf("format %s, %d cues\n", api.format_name(api.detected_format()), (int)api.cue_count());
    for (i = 0; i < api.cue_count(); i++) {
      printf("%d --> %d%s\n", (int)api.cue_start_ms(i), (int)api.cue_end_ms(i),
             api.cue_is_danmu(i) ? " (danmaku)" : "");
      for (k = 0; k < api.cue_line_count(i); k++) printf("  %s\n", api.cue_line(i, k));
    }
    printf("%s\n", api.result_json());
  }
  api.clear(); /* release the result before the code that owns it goes away */
  dlclose(lib);
  return (int)rc;
}
