/* indices.c - the raster of a converter GIF as an index file for the floor.
 *
 *   tdbench_indices IMAGE.gif INDICES ROWS COLUMNS COLOURS
 *
 * Writes "TDBINDEX", then as big-endian 32-bit words the image width and
 * height, the raster origin (11, 11), COLUMNS, ROWS and COLOURS, then the
 * first COLOURS palette entries (red, green, blue), then the raster's
 * palette indices row by row.
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <gd.h>

static void put_u32(FILE* f, uint32_t v)
{
    const unsigned char b[4] = {(unsigned char)(v >> 24), (unsigned char)(v >> 16), (unsigned char)(v >> 8),
                                (unsigned char)v};
    fwrite(b, 1, 4, f);
}

int main(int argc, char** argv)
{
    if (argc != 6) {
        fputs("usage: tdbench_indices IMAGE.gif INDICES ROWS COLUMNS COLOURS\n", stderr);
        return 2;
    }
    const int rows = atoi(argv[3]);
    const int columns = atoi(argv[4]);
    const int colours = atoi(argv[5]);
    FILE* in = fopen(argv[1], "rb");
    if (!in) {
        fputs("tdbench_indices: cannot open the GIF\n", stderr);
        return 1;
    }
    gdImagePtr image = gdImageCreateFromGif(in);
    fclose(in);
    if (!image || image->trueColor || colours < 1 || colours > 256 || rows < 1 || columns < 1 ||
        columns + 11 > image->sx || rows + 11 > image->sy) {
        fputs("tdbench_indices: not a converter GIF of that size\n", stderr);
        return 1;
    }
    FILE* out = fopen(argv[2], "wb");
    if (!out) {
        fputs("tdbench_indices: cannot create the index file\n", stderr);
        return 1;
    }
    fwrite("TDBINDEX", 1, 8, out);
    put_u32(out, (uint32_t)image->sx);
    put_u32(out, (uint32_t)image->sy);
    put_u32(out, 11);
    put_u32(out, 11);
    put_u32(out, (uint32_t)columns);
    put_u32(out, (uint32_t)rows);
    put_u32(out, (uint32_t)colours);
    for (int i = 0; i < colours; ++i) {
        const unsigned char rgb[3] = {(unsigned char)image->red[i], (unsigned char)image->green[i],
                                      (unsigned char)image->blue[i]};
        fwrite(rgb, 1, 3, out);
    }
    for (int r = 0; r < rows; ++r)
        fwrite(image->pixels[11 + r] + 11, 1, (size_t)columns, out);
    gdImageDestroy(image);
    if (fclose(out) != 0) {
        fputs("tdbench_indices: cannot write the index file\n", stderr);
        return 1;
    }
    return 0;
}
