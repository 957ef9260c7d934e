/*
 * print_cues: the smallest complete host of the library. Reads a file, lets
 * the library detect its format, parses it into a document of its own and
 * prints every cue with its lines.
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
  SubParseOptions options;
  SubDoc *doc = NULL;
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
  sub_parse_options_init(&options); /* detect the format, decode automatically */
  if (argc > 2) options.encoding = argv[2];
  rc = sub_doc_parse(data, len, &options, &doc);
  free(data); /* the document holds its own copy of everything it returns */
  if (rc != SUB_OK) {
    /* doc is NULL only when memory ran out before it could be made */
    fprintf(stderr, "%s: %s (code %d)\n", argv[1], doc ? sub_doc_error(doc) : "out of memory",
            (int)rc);
    sub_doc_free(doc);
    return (int)rc;
  }
  printf("subparse %s, format %s, %d cues\n", SUBPARSE_VERSION,
         sub_format_name(sub_doc_format(doc)), (int)sub_doc_cue_count(doc));
  for (i = 0; i < sub_doc_cue_count(doc); i++) {
    printf("%d --> %d", (int)sub_doc_cue_start_ms(doc, i), (int)sub_doc_cue_end_ms(doc, i));
    for (k = 0; k < sub_doc_cue_line_count(doc, i); k++)
      printf("%s%s", k ? " | " : "  ", sub_doc_cue_line(doc, i, k));
    putchar('\n');
  }
  for (i = 0; i < sub_doc_warning_count(doc); i++)
    fprintf(stderr, "warning: %s\n", sub_doc_warning(doc, i));
  sub_doc_free(doc);
  return 0;
}
