/* floor.c - what gd alone costs for one converter image: the same image
 * size, the same palette, every raster pixel set with gdImageSetPixel from
 * a precomputed index array, the same gdImageGif; nothing else.
 *
 *   tdbench_floor INDICES OUTPUT.gif
 *
 * INDICES is written by tdbench_indices from the converter's own GIF of the
 * dataset, so the floor encodes the very raster the converter encodes.  It
 * is read a row at a time, so the floor holds the gd image and one row, as
 * the converter does.  On standard error the floor prints the time of its
 * two parts:  "floor: fill=SECONDS gif=SECONDS".
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <gd.h>

static double now(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec * 1e-9;
}

static int read_u32(FILE* f, uint32_t* v)
{
    unsigned char b[4];
    if (fread(b, 1, 4, f) != 4)
        return 0;
    *v = (uint32_t)b[0] << 24 | (uint32_t)b[1] << 16 | (uint32_t)b[2] << 8 | b[3];
    return 1;
}

static int fail(const char* what)
{
    fprintf(stderr, "tdbench_floor: %s\n", what);
    return 1;
}

int main(int argc, char** argv)
{
    if (argc != 3)
        return fail("usage: tdbench_floor INDICES OUTPUT.gif");
    FILE* in = fopen(argv[1], "rb");
    if (!in)
        return fail("cannot open the index file");
    char magic[8];
    uint32_t width, height, x0, y0, columns, rows, colours;
    if (fread(magic, 1, 8, in) != 8 || memcmp(magic, "TDBINDEX", 8) != 0 || !read_u32(in, &width) ||
        !read_u32(in, &height) || !read_u32(in, &x0) || !read_u32(in, &y0) || !read_u32(in, &columns) ||
        !read_u32(in, &rows) || !read_u32(in, &colours) || colours < 1 || colours > 256)
        return fail("not an index file");
    unsigned char palette[256 * 3];
    if (fread(palette, 3, colours, in) != colours)
        return fail("short palette");

    const double t0 = now();
    gdImagePtr image = gdImageCreate((int)width, (int)height);
    if (!image)
        return fail("gdImageCreate failed");
    for (uint32_t i = 0; i < colours; ++i)
        gdImageColorAllocate(image, palette[3 * i], palette[3 * i + 1], palette[3 * i + 2]);
    unsigned char* row = malloc(columns ? columns : 1);
    if (!row)
        return fail("out of memory");
    for (uint32_t r = 0; r < rows; ++r) {
        if (fread(row, 1, columns, in) != columns)
            return fail("short raster");
        for (uint32_t c = 0; c < columns; ++c)
            gdImageSetPixel(image, (int)(x0 + c), (int)(y0 + r), row[c]);
    }
    free(row);
    fclose(in);

    const double t1 = now();
    FILE* out = fopen(argv[2], "wb");
    if (!out)
        return fail("cannot create the output file");
    gdImageGif(image, out);
    if (fclose(out) != 0)
        return fail("cannot write the output file");
    const double t2 = now();
    gdImageDestroy(image);
    fprintf(stderr, "floor: fill=%.6f gif=%.6f\n", t1 - t0, t2 - t1);
    return 0;
}
