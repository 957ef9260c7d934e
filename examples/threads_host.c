/*
 * threads_host: a complete host of the document API. Parses two files at the
 * same time, each on its own thread into its own document, prints both
 * documents' cues through the accessors, then frees them: the second first,
 * reading the first once more after that. Documents share nothing, so they
 * can be parsed and read at the same time and freed in any order, which the
 * classic API (one process-wide result) cannot do.
 * Usage: threads_host FILE1 FILE2
 * Exit status: 0 when both parsed; 64 usage error; 66 unreadable file; else
 * the failure code of the first file that did not parse (SUB_ERR_*).
 */
#define _POSIX_C_SOURCE 200809L
#include <errno.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <subparse.h>

#if SUBPARSE_VERSION_NUMBER < 100
#error "this host needs subparse 0.1 or newer"
#endif

/* One file's parse. The thread that runs it owns the job until it is joined. */
struct job {
  const char *path; /* in: the file */
  SubDoc *doc;      /* out: the document (NULL when none was made) */
  int32_t code;     /* out: SUB_OK or the parse's failure code */
  int read_error;   /* out: errno when the file could not be read, else 0 */
};

/* Reads the whole file into a heap block; NULL on failure, errno telling why. */
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
        errno = ENOMEM;
        return NULL;
      }
      data = grown;
    }
    got = fread(data + size, 1, cap - size, f);
    size += got;
  } while (got > 0);
  if (ferror(f)) {
    free(data);
    fclose(f);
    errno = EIO;
    return NULL;
  }
  fclose(f);
  *len = size;
  return data;
}

/* The thread's work: read the file and parse it into a new document. */
static void *parse_job(void *arg) {
  struct job *job = arg;
  SubParseOptions options;
  size_t len = 0;
  char *data;
  errno = 0;
  data = read_file(job->path, &len);
  if (!data) {
    job->read_error = errno ? errno : EIO;
    return NULL;
  }
  sub_parse_options_init(&options); /* always first: it fills in options.size */
  options.format = SUB_FMT_AUTO;    /* the default; SUB_FMT_SRT etc. skip detection */
  options.encoding = "auto";        /* the default: the encoding is detected */
  job->code = sub_doc_parse(data, len, &options, &job->doc);
  free(data); /* the document holds its own copy of everything it returns */
  return NULL;
}

/* Prints a parsed document through the accessors, its warnings to stderr. */
static void print_doc(const char *path, const SubDoc *doc) {
  int32_t i, k, count = sub_doc_cue_count(doc);
  printf("%s: %s, %s, %d cues\n", path, sub_format_name(sub_doc_format(doc)),
         sub_doc_encoding(doc), (int)count);
  for (i = 0; i < count; i++) {
    printf("  %d --> %d", (int)sub_doc_cue_start_ms(doc, i), (int)sub_doc_cue_end_ms(doc, i));
    for (k = 0; k < sub_doc_cue_line_count(doc, i); k++)
      printf("%s%s", k ? " | " : "  ", sub_doc_cue_line(doc, i, k));
    if (sub_doc_cue_is_danmu(doc, i))
      printf("  [danmaku: mode %d, colour #%06X, size %g]", (int)sub_doc_cue_danmu_mode(doc, i),
             (unsigned)sub_doc_cue_danmu_color(doc, i), (double)sub_doc_cue_danmu_fontsize(doc, i));
    putchar('\n');
  }
  for (i = 0; i < sub_doc_warning_count(doc); i++)
    fprintf(stderr, "%s: warning: %s\n", path, sub_doc_warning(doc, i));
}

/* Reports a job that gave no document to print; returns its exit status. */
static int report_failure(const struct job *job) {
  if (job->read_error) {
    fprintf(stderr, "threads_host: %s: %s\n", job->path, strerror(job->read_error));
    return 66;
  }
  /* A document exists for nearly every failure and carries the error text;
   * only when memory ran out before one was made is there none. */
  const char *error = job->doc ? sub_doc_error(job->doc) : "";
  if (!*error) error = job->code == SUB_ERR_NOMEM ? "out of memory" : "parse failed";
  fprintf(stderr, "threads_host: %s: %s (code %d)\n", job->path, error, (int)job->code);
  return job->code >= 1 && job->code <= 125 ? (int)job->code : 1;
}

int main(int argc, char **argv) {
  struct job jobs[2];
  pthread_t threads[2];
  int started[2] = {0, 0};
  int i, err, status = 0;
  const char *json;
  if (argc != 3) {
    fprintf(stderr, "usage: threads_host FILE1 FILE2\n");
    return 64;
  }
  memset(jobs, 0, sizeof jobs);
  for (i = 0; i < 2; i++) {
    jobs[i].path = argv[i + 1];
    err = pthread_create(&threads[i], NULL, parse_job, &jobs[i]);
    if (err == 0) {
      started[i] = 1;
    } else {
      /* Documents do not care which thread makes them: parse here instead. */
      fprintf(stderr, "threads_host: no thread for %s (%s); parsing it here\n", jobs[i].path,
              strerror(err));
      parse_job(&jobs[i]);
    }
  }
  for (i = 0; i < 2; i++)
    if (started[i]) pthread_join(threads[i], NULL); /* hands the job to this thread */

  for (i = 0; i < 2; i++) {
    if (!jobs[i].read_error && jobs[i].code == SUB_OK) {
      print_doc(jobs[i].path, jobs[i].doc);
    } else {
      err = report_failure(&jobs[i]);
      if (status == 0) status = err;
    }
  }

  /* Free in any order (sub_doc_free ignores NULL). The second document goes
   * first; the first stays whole and is read once more afterwards. */
  sub_doc_free(jobs[1].doc);
  if (!jobs[0].read_error && jobs[0].code == SUB_OK) {
    json = sub_doc_json(jobs[0].doc); /* rendered on first use, kept by the document */
    if (json) {
      printf("%s\n", json);
    } else {
      fprintf(stderr, "threads_host: %s: out of memory for its JSON\n", jobs[0].path);
      if (status == 0) status = SUB_ERR_NOMEM;
    }
  }
  sub_doc_free(jobs[0].doc);
  if (fflush(stdout) != 0 && status == 0) status = 1;
  return status;
}
