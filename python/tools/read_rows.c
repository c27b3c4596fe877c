/*
 * read_rows.c - reads a whole variable of a Tidewell dataset from C, one
 * row at a time, as tdftogif does: td_varget_float for the data variable
 * (whatever its value type: a cloud dataset's bytes come as 0.0 to 255.0),
 * td_varget_byte for the graphics planes.  The Python package's tests compare its
 * arrays with this output, and its benchmark times the same read.
 *
 *   read_rows DATASET VARIABLE OUTPUT
 *       writes the rows x columns values, row-major, in the host's byte
 *       order (4-byte floats or bytes) to OUTPUT.
 *   read_rows --time REPS DATASET
 *       opens the dataset, reads its data variable and closes it, REPS
 *       times, into a whole rows x columns array and into one reused row
 *       buffer; prints "array SECONDS" and "row SECONDS", the median of
 *       each, one per line.  The array is allocated as numpy allocates a
 *       large one.
 *
 * A failing td_ call prints "read_rows: WHAT: MESSAGE" and ends with its
 * status.
 */
#define _DEFAULT_SOURCE
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <time.h>

#include "tidewell.h"

struct variable {
    int id; /* dataset id */
    int varid;
    int16_t type; /* TD_FLOAT or TD_BYTE */
    int rows;
    int columns;
};

static int failed(int status, const char* what)
{
    fprintf(stderr, "read_rows: %s: %s\n", what, td_strerror(status));
    return status;
}

static int open_variable(const char* path, const char* name, struct variable* v)
{
    int status = td_open(path, TD_READONLY, &v->id);
    if (status != TD_NOERR)
        return failed(status, path);
    if (name != NULL)
        status = td_varid(v->id, name, &v->varid);
    else
        v->varid = 0;
    if (status == TD_NOERR)
        status = td_varinq(v->id, v->varid, NULL, &v->type, NULL, NULL, NULL);
    if (v->varid == 0)
        v->type = TD_FLOAT;
    if (status == TD_NOERR)
        status = td_diminq(v->id, 0, NULL, &v->rows);
    if (status == TD_NOERR)
        status = td_diminq(v->id, 1, NULL, &v->columns);
    if (status != TD_NOERR) {
        td_close(v->id);
        return failed(status, name != NULL ? name : "variable 0");
    }
    return TD_NOERR;
}

static size_t value_size(const struct variable* v)
{
    return v->type == TD_FLOAT ? sizeof(float) : 1;
}

/* Reads row `row` into `out`. */
static int read_row(const struct variable* v, int row, void* out)
{
    const uint32_t start[2] = {(uint32_t)row, 0};
    const uint32_t count[2] = {1, (uint32_t)v->columns};
    if (v->type == TD_FLOAT)
        return td_varget_float(v->id, v->varid, start, count, (float*)out);
    return td_varget_byte(v->id, v->varid, start, count, (uint8_t*)out);
}

/* Reads every row into `whole` (rows x columns values), or with `whole`
 * NULL each row into the same buffer. */
static int read_all(const struct variable* v, unsigned char* whole, unsigned char* row_buffer)
{
    const size_t row_bytes = (size_t)v->columns * value_size(v);
    for (int r = 0; r < v->rows; ++r) {
        unsigned char* out = whole != NULL ? whole + (size_t)r * row_bytes : row_buffer;
        const int status = read_row(v, r, out);
        if (status != TD_NOERR)
            return failed(status, "row read");
    }
    return TD_NOERR;
}

static int dump(const char* path, const char* name, const char* output)
{
    struct variable v;
    int status = open_variable(path, name, &v);
    if (status != TD_NOERR)
        return status;
    const size_t row_bytes = (size_t)(v.columns > 0 ? v.columns : 0) * value_size(&v);
    unsigned char* row = malloc(row_bytes > 0 ? row_bytes : 1);
    FILE* out = fopen(output, "wb");
    if (row == NULL || out == NULL) {
        fprintf(stderr, "read_rows: cannot write %s\n", output);
        status = 1;
    }
    for (int r = 0; status == TD_NOERR && r < v.rows; ++r) {
        status = read_row(&v, r, row);
        if (status != TD_NOERR)
            failed(status, "row read");
        else if (fwrite(row, 1, row_bytes, out) != row_bytes)
            status = 1;
    }
    if (out != NULL && fclose(out) != 0 && status == TD_NOERR)
        status = 1;
    free(row);
    const int closed = td_close(v.id);
    return status != TD_NOERR ? status : (closed != TD_NOERR ? failed(closed, "close") : 0);
}

static double now(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec * 1e-9;
}

static int by_value(const void* a, const void* b)
{
    const double x = *(const double*)a;
    const double y = *(const double*)b;
    return (x > y) - (x < y);
}

/* A buffer for a whole variable, allocated as numpy allocates large arrays:
 * aligned to 2 MiB and advised to use huge pages, so that its first touch
 * costs as few page faults as it does for a numpy array. */
static void* whole_buffer(size_t bytes)
{
    const size_t huge = (size_t)2 << 20;
    const size_t rounded = (bytes + huge - 1) / huge * huge;
    void* buffer = aligned_alloc(huge, rounded > 0 ? rounded : huge);
#ifdef MADV_HUGEPAGE
    if (buffer != NULL)
        madvise(buffer, rounded, MADV_HUGEPAGE);
#endif
    return buffer;
}

/* One timed open, read and close; whole_array selects the form. */
static int timed_read(const char* path, int whole_array, double* seconds)
{
    const double t0 = now();
    struct variable v;
    int status = open_variable(path, NULL, &v);
    if (status != TD_NOERR)
        return status;
    const size_t row_bytes = (size_t)v.columns * value_size(&v);
    unsigned char* buffer = whole_array ? whole_buffer(row_bytes * (size_t)v.rows) : malloc(row_bytes);
    if (buffer == NULL) {
        td_close(v.id);
        return failed(TD_ENOMEM, "buffer");
    }
    status = whole_array ? read_all(&v, buffer, NULL) : read_all(&v, NULL, buffer);
    free(buffer);
    const int closed = td_close(v.id);
    *seconds = now() - t0;
    return status != TD_NOERR ? status : (closed != TD_NOERR ? failed(closed, "close") : 0);
}

static int time_reads(const char* path, int reps)
{
    double* array_times = calloc((size_t)reps, sizeof(double));
    double* row_times = calloc((size_t)reps, sizeof(double));
    int status = array_times != NULL && row_times != NULL ? TD_NOERR : TD_ENOMEM;
    /* Interleaved, so that both forms see the same state of the machine. */
    for (int i = 0; status == TD_NOERR && i < reps; ++i) {
        status = timed_read(path, 1, &array_times[i]);
        if (status == TD_NOERR)
            status = timed_read(path, 0, &row_times[i]);
    }
    if (status == TD_NOERR) {
        qsort(array_times, (size_t)reps, sizeof(double), by_value);
        qsort(row_times, (size_t)reps, sizeof(double), by_value);
        printf("array %.6f\nrow %.6f\n", array_times[reps / 2], row_times[reps / 2]);
    }
    free(array_times);
    free(row_times);
    return status;
}

int main(int argc, char** argv)
{
    if (argc == 4 && strcmp(argv[1], "--time") == 0) {
        const int reps = atoi(argv[2]);
        if (reps < 1) {
            fprintf(stderr, "read_rows: bad repetition count %s\n", argv[2]);
            return 2;
        }
        return time_reads(argv[3], reps);
    }
    if (argc == 4)
        return dump(argv[1], argv[2], argv[3]);
    fprintf(stderr,
            "usage: read_rows DATASET VARIABLE OUTPUT\n"
            "       read_rows --time REPS DATASET\n");
    return 2;
}
