/* install_probe.c - a small C program built against the installed library:
 * it writes a tiny infrared dataset, then reads it back through the td_
 * interface, including the attribute listing.  Prints "probe ok" and ends
 * with 0 when every answer is the expected one. */
#include <stdio.h>
#include <string.h>

#include <tidewell.h>

#define COLUMNS 68 /* the header row slot then holds the 136 defined bytes */
#define ROWS 2

static int failures = 0;

static void check(int condition, const char* what)
{
    if (!condition) {
        fprintf(stderr, "install_probe: %s\n", what);
        ++failures;
    }
}

static void put16(unsigned char* bytes, int offset, int value)
{
    bytes[offset] = (unsigned char)((value >> 8) & 0xFF);
    bytes[offset + 1] = (unsigned char)(value & 0xFF);
}

static int write_dataset(const char* path)
{
    static unsigned char file[(ROWS + 1) * COLUMNS * 2];
    FILE* out;
    size_t written;
    memset(file, 0, sizeof file);
    put16(file, 0, 0xD5D1); /* satellite_id hesk-14 */
    put16(file, 8, 3905);   /* start_latitude 30.5078125 */
    put16(file, 34, ROWS);
    put16(file, 36, COLUMNS);
    put16(file, 44, 2);     /* calibration_type albedo_temperature */
    put16(file, 48, 4);     /* channel_number avhrr_ch4 */
    put16(file, 50, 1);     /* data_id infrared */
    put16(file, 62, 2);     /* channel_pixel_size */
    put16(file, 100, 2);    /* orbit_type: a code without a name */
    put16(file, 112, 2024); /* orbit_start_year */
    out = fopen(path, "wb");
    if (out == NULL)
        return -1;
    written = fwrite(file, 1, sizeof file, out);
    return fclose(out) == 0 && written == sizeof file ? 0 : -1;
}

int main(int argc, char** argv)
{
    char name[TD_ATT_NAME_SIZE];
    char text[TD_ATT_TEXT_SIZE];
    float row[COLUMNS];
    uint32_t start[2] = {0, 0};
    uint32_t count[2] = {1, COLUMNS};
    int16_t kind = 0, scale = 0, value = 0;
    int id = -1, rows = 0, attnum, enumerated = 0, shorts = 0, scaled = 0;

    if (argc != 2) {
        fprintf(stderr, "usage: install_probe scratch-file\n");
        return 2;
    }
    check(strcmp(td_strerror(26), "wrong magic number, unrecognized format") == 0, "td_strerror");
    check(td_open("/nonexistent/probe.tdf", TD_READONLY, &id) == TD_EACCESS, "open of a missing file");
    if (write_dataset(argv[1]) != 0) {
        fprintf(stderr, "install_probe: cannot write %s\n", argv[1]);
        return 1;
    }
    check(td_open(argv[1], TD_READONLY, &id) == TD_NOERR, "td_open");
    check(td_diminq(id, 0, NULL, &rows) == TD_NOERR && rows == ROWS, "td_diminq rows");
    check(td_attget_text(id, 0, "data_id", text) == TD_NOERR && strcmp(text, "infrared") == 0,
          "td_attget_text data_id");
    for (attnum = 0; attnum < TD_NUM_ATTRIBUTES; ++attnum) {
        check(td_attinq(id, 0, attnum, name, &kind, &scale) == TD_NOERR, "td_attinq");
        check(td_attget_stored(id, 0, name, &value) == TD_NOERR, "td_attget_stored");
        enumerated += kind == TD_ATT_ENUMERATED;
        shorts += kind == TD_ATT_SHORT;
        scaled += kind == TD_ATT_SCALED;
    }
    check(enumerated == 15 && shorts == 37 && scaled == 5, "attribute kinds");
    check(td_attinq(id, 0, TD_NUM_ATTRIBUTES, name, &kind, &scale) == TD_EBADATTID,
          "td_attinq past the last attribute");
    check(td_attinq(id, 0, 4, name, &kind, &scale) == TD_NOERR && strcmp(name, "start_latitude") == 0 &&
              kind == TD_ATT_SCALED && scale == 128,
          "td_attinq start_latitude");
    check(td_attget_stored(id, 0, "start_latitude", &value) == TD_NOERR && value == 3905,
          "td_attget_stored start_latitude");
    check(td_attget_stored(id, 0, "orbit_type", &value) == TD_NOERR && value == 2,
          "td_attget_stored orbit_type");
    check(td_varget_float(id, 0, start, count, row) == TD_NOERR, "td_varget_float");
    check(td_close(id) == TD_NOERR, "td_close");
    remove(argv[1]);
    if (failures != 0)
        return 1;
    puts("probe ok");
    return 0;
}
