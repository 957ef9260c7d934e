/*
 * print_cues: the smallest complete host of the library. Reads a file, lets
 * the library detect its format, and prints every cue with its lines.
 * Usage: print_cues FILE [ENCODING]
 */
#include <stdio.h>
#include <stdlib.h>

#include <subparse.h>

#if SUBPARSE_VERSION_NUMBER < 100
#error "this host needs subparse 0.1 or newer"
#endif

/* Reads the whole file into a heap block; NULL on failure. */
static char *read_file(const char *path, size_t *len) {
  FILE *f = fopen(path, "rb");
  char *data = NULL;
  size_t size = 0, cap = 0, got;
  if (!f) return NULL;
  do {
    if (size == cap) {
      char *grown = realloc(data, cap = cap ? cap * 2 : 65536);
      if (!grown) {
        free(data);
        fclose(f);
        return NULL;
      }
      data = grown;
    }
    got = fread(data + size, 1, cap - size, f);
    size += got;
  } while (got > 0);
  fclose(f);
  *len = size;
  return data;
}

int main(int argc, char **argv) {
  size_t len = 0;
  char *data;
  int32_t rc, i, k;
  if (argc < 2) {
    fprintf(stderr, "usage: print_cues FILE [ENCODING]\n");
    return 64;
  }
  data = read_file(argv[1], &len);
  if (!data) {
    perror(argv[1]);
    return 66;
  }
  rc = sub_parse(data, len, -1, argc > 2 ? argv[2] : NULL);
  free(data); /* the library keeps its own copy of everything it returns */
  if (rc != 0) {
    fprintf(stderr, "%s: %s (code %d)\n", argv[1], sub_last_error(), (int)rc);
    return (int)rc;
  }
  printf("subparse %s, format %s, %d cues\n", SUBPARSE_VERSION,
         sub_format_name(sub_detected_format()), (int)sub_cue_count());
  for (i = 0; i < sub_cue_count(); i++) {
    printf("%d --> %d", (int)sub_cue_start_ms(i), (int)sub_cue_end_ms(i));
    for (k = 0; k < sub_cue_line_count(i); k++)
      printf("%s%s", k ? " | " : "  ", sub_cue_line(i, k));
    putchar('\n');
  }
  for (i = 0; i < sub_warning_count(); i++) fprintf(stderr, "warning: %s\n", sub_warning(i));
  sub_clear();
  return 0;
}
