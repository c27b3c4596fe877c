/*
 * tidewell.h - the td_ interface to Tidewell dataset files.
 *
 * A Tidewell dataset holds one satellite image behind a header of 16-bit
 * big-endian fields.  It has two dimensions ("rows", id 0; "columns", id 1),
 * the data variable (id 0, named after the header's channel_number) and, for
 * visible and infrared data, the "graphics" variable (id 1) of bit planes.
 * The 57 header attributes belong to the data variable.
 *
 * Every operation but td_strerror returns a status: 0 on success, one of the
 * TD_E* codes below on failure.  Results are written through places the
 * caller supplies; places documented as optional may be NULL.  Text results
 * are copied with their terminator into caller buffers of at least the sizes
 * given by the TD_*_NAME_SIZE constants.  The library prints nothing.
 *
 * Threads.  Every operation may be called from any thread at any time.
 * Calls on different datasets run at the same time (reads of different
 * datasets go on in parallel); calls on one dataset are serialised by the
 * library, each running whole before the next begins, so two threads may
 * share a dataset id without a lock of their own.  td_open and td_close are
 * safe from any thread; a call made with an id that another thread closes
 * meanwhile either runs before the close or fails with TD_EBADID.  After a
 * fork the child may go on using the datasets of the thread that forked.
 * The table of 100 open datasets is process-wide; programs that keep more
 * datasets open than that use the pool (td_pool_open).
 *
 * What a header means (the kind of data, how it is stored, the units, the
 * orbit start time, the latitude/longitude grid) is said by the library
 * alone, through the td_*inq calls below; programs built on it derive
 * nothing from header fields themselves.
 */
#ifndef TIDEWELL_H
#define TIDEWELL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Access modes of td_open. */
#define TD_READONLY 0 /* read the dataset; never written back */
#define TD_WRITE 1    /* read-write: td_varput_* change the data, td_close writes it back */

/* Value type codes of variables (td_varinq, data reads). */
#define TD_BYTE 0  /* unsigned 8-bit */
#define TD_FLOAT 3 /* 32-bit IEEE single precision */

/* The value delivered for a missing or out-of-range sample: -999.0f.
 * Compare the bit pattern, TD_BAD_VALUE_BITS, to recognise it exactly. */
#define TD_BAD_VALUE (-999.0f)
#define TD_BAD_VALUE_BITS 0xC479C000u

/* Limits. */
#define TD_MAX_DATASETS 100  /* open datasets per process (ids 0 to 99) */
#define TD_NUM_ATTRIBUTES 57 /* header attributes of the data variable */
#define TD_DIM_NAME_SIZE 8   /* buffer for a dimension name ("columns") */
#define TD_VAR_NAME_SIZE 14  /* buffer for a variable name ("ocean_reflect") */
#define TD_ATT_TEXT_SIZE 19  /* buffer for a value name ("albedo_temperature") */

/* Status codes. */
#define TD_NOERR 0        /* no error */
#define TD_ECREATE 1      /* cannot create dataset */
#define TD_ECREATEMODE 2  /* invalid creation mode */
#define TD_EACCESS 3      /* cannot access dataset */
#define TD_EMODE 4        /* invalid access mode */
#define TD_ENOTINDEFINE 5 /* dataset not in define mode */
#define TD_EBADID 6       /* invalid dataset id */
#define TD_EENDDEF 7      /* call to td_enddef failed */
#define TD_EDIMDEFINED 8  /* dimension already defined */
#define TD_EDIMSIZE 9     /* dimension must be greater than 0 */
#define TD_EBADDIM 10     /* invalid dimension */
#define TD_EVARDEFINED 11 /* variable already defined (only 1 allowed) */
#define TD_EBADTYPE 12    /* invalid data type */
#define TD_ENDIMS 13      /* invalid number of dimensions */
#define TD_EBADDIMID 14   /* invalid dimension id */
#define TD_EBADVAR 15     /* invalid variable */
#define TD_EBADVARID 16   /* invalid variable id */
#define TD_EINDEX 17      /* variable index is out of range */
#define TD_ERANGE 18      /* variable value is out of range (value type) */
#define TD_EINDEFINE 19   /* dataset in define mode */
#define TD_EBADATT 20     /* invalid attribute */
#define TD_EBADATTVAL 21  /* invalid attribute value (code has no name) */
#define TD_ENOMEM 22      /* failed to allocate memory */
#define TD_EMAXDS 23      /* maximum open file limit reached */
#define TD_EEXIST 24      /* cannot create, dataset exists */
#define TD_EHEADER 25     /* header creation failed */
#define TD_EMAGIC 26      /* wrong magic number, unrecognized format */
#define TD_ENOMAGIC 27    /* cannot read magic number */
#define TD_EUNKNOWN 28    /* unknown error */
#define TD_EBADATTID 29   /* invalid attribute id */
#define TD_EREADDIM 30    /* error reading dimension */
#define TD_EREADATT 31    /* error reading attribute */
#define TD_EREADDATA 32   /* error reading data */
#define TD_EWRITEDIM 33   /* error writing dimension */
#define TD_EWRITEATT 34   /* error writing attribute */
#define TD_EWRITEDATA 35  /* error writing data */
#define TD_EDIMUNDEF 36   /* dimension must be defined */
#define TD_EVARUNDEF 37   /* data variable must be defined */
#define TD_EINTERNAL 38   /* internal consistency error */
#define TD_EDATAID 39     /* unsupported data id in header */
#define TD_ECHANNEL 40    /* unsupported channel number in header */
#define TD_EREADONLY 41   /* dataset opened read-only */
#define TD_EATTTYPE 42    /* attribute type mismatch */
#define TD_EPIXSIZE 43    /* unsupported pixel size in header */
#define TD_ECALTYPE 44    /* unsupported calibration type in header */
#define TD_EUNCOMPFILE 45 /* error manipulating uncompressed file */
#define TD_ECOMPFILE 46   /* error manipulating compressed file */
#define TD_ECOMPTYPE 47   /* unsupported compression type in header */
#define TD_ECOMPBYTE0 48  /* error in compressed file, byte 0 */
#define TD_EATTLEN 49     /* invalid attribute length */
#define TD_ESHIFTWRITE 50 /* cannot write data to file with non-zero navigational shifts */
#define TD_EATTRO 51      /* attribute is read-only */

/* Open the dataset at path with mode TD_READONLY or TD_WRITE; *id receives
 * the dataset id (the lowest free slot, 0 to 99).  Only a regular file (or
 * a symbolic link to one) is opened; anything else fails with TD_EACCESS
 * at once. */
int td_open(const char* path, int mode, int* id);

/* Opening a dataset on caller-supplied I/O instead of a path: a member of an
 * archive, an object fetched over HTTP, a file object of another language.
 * The caller gives a user pointer and three functions, each called with
 * that pointer first:
 *
 *   read   reads up to `length` bytes at byte `offset` of the data into
 *          `buffer` and returns how many it read, or -1 when the read
 *          failed.  A return of 0 means the end of the data; fewer bytes
 *          than asked are fine (it is called again for the rest).  The
 *          library never asks for bytes at or beyond the size reported
 *          at the open.
 *   size   returns the length of the data in bytes, or -1 when it cannot
 *          be told.  It is called at the open and then at the end of
 *          every data read: a size other than the one at the open means
 *          the data has changed, and the read fails as one of a file
 *          changed in place does (TD_EUNCOMPFILE, or TD_ECOMPFILE for
 *          compressed data).  A -1 there is taken for no change.
 *          td_fileinq gives the size at the open and whether it has
 *          changed; device, inode and time are 0.
 *   close  (may be NULL) is called once, when td_close of the dataset
 *          succeeds.  A td_open_callbacks that fails calls nothing
 *          further: the caller still owns what `user` points to.
 *
 * The dataset is read-only (TD_READONLY) and *id works with every call
 * that takes a dataset id.  Plain and compressed datasets are read in
 * place, one row's bytes at a time; nothing is copied aside.  Failures are
 * those of td_open: TD_EACCESS without a read or size function or an id
 * place, or when the size is -1; a failed or short read gives the status a
 * file that short gives (TD_ENOMAGIC, TD_EREADATT, TD_EREADDATA).  The
 * library calls the functions only from within td_ calls on this dataset,
 * which it serialises: never from two threads at once. */
typedef int64_t (*td_read_func)(void* user, int64_t offset, void* buffer, size_t length);
typedef int64_t (*td_size_func)(void* user);
typedef void (*td_close_func)(void* user);

int td_open_callbacks(void* user, td_read_func read, td_size_func size, td_close_func close, int* id);

/* Close a dataset.  A dataset opened read-write whose data td_varput_*
 * changed is written into a complete new file (compressed again when it was
 * compressed) beside it, put on the disk, and renamed over it, the folder
 * then flushed too: the file is the old one or the new one, whatever
 * happens, never a part of either.  One that was not changed is left as it
 * was.  Where the new file cannot take the dataset's place keeping its
 * identity (the path names another file than the one opened, the file has
 * another hard link, an owner, group or attribute cannot be given, the
 * folder takes no new file), the close fails with TD_EUNCOMPFILE
 * (TD_EWRITEDATA without room) and the file is unchanged.  On failure the
 * dataset stays open with its changes, and td_close may be tried again. */
int td_close(int id);

/* Leave define mode.  Datasets opened here are always in data mode, so it
 * fails with TD_ENOTINDEFINE. */
int td_enddef(int id);

/* Dimension id of "rows" (0) or "columns" (1). */
int td_dimid(int id, const char* name, int* dimid);

/* Name (optional, TD_DIM_NAME_SIZE bytes) and length (optional) of a
 * dimension; the length is read from the header on every call. */
int td_diminq(int id, int dimid, char* name, int* length);

/* Variable id of the data variable (by its channel name) or "graphics". */
int td_varid(int id, const char* name, int* varid);

/* Inquire a variable; every output is optional.  dimids receives two ids. */
int td_varinq(int id, int varid, char* name, int16_t* type, int* ndims, int* dimids, int* natts);

/* Name of an enumerated attribute's value, into TD_ATT_TEXT_SIZE bytes. */
int td_attget_text(int id, int varid, const char* name, char* text);

/* Value of a short (plain 16-bit integer) attribute. */
int td_attget_short(int id, int varid, const char* name, int16_t* value);

/* Message of a status code; "unknown error" for codes outside 0 to 51.
 * The text is constant and never freed. */
const char* td_strerror(int status);

/* Read a block of a variable: start and count give (row, column); out
 * receives count[0] x count[1] values, row-major.  The data variable comes
 * back calibrated (counts, albedo %, degrees Celsius, degrees, hours or byte
 * values) with TD_BAD_VALUE for missing samples; the graphics variable as
 * its plane bits.  The first read of a compressed dataset checks its whole
 * stream and notes where each row begins (12 bytes a row); reads then decode
 * only the rows they cover, from the dataset file itself: no temporary file
 * is written.  A read of a dataset whose file has been written in place
 * since it was opened (see td_fileinq) fails with TD_EUNCOMPFILE, or
 * TD_ECOMPFILE for a compressed dataset, rather than mix two files' data;
 * this is checked at the end of every read, which sees a change made
 * before the read or while it ran. */
int td_varget_float(int id, int varid, const uint32_t start[2], const uint32_t count[2], float* out);
int td_varget_byte(int id, int varid, const uint32_t start[2], const uint32_t count[2], uint8_t* out);

/* Write a block of a variable of a dataset opened with TD_WRITE: start,
 * count and the row-major layout of `in` as for the reads.  The mirror
 * images of the reads:
 *
 *   data variable, td_varput_float: each value is stored as the stored
 *     sample whose calibrated value (what td_varget_float gives) is
 *     nearest.  A value exactly halfway between two calibrated values takes
 *     the one farther from zero; of stored samples with the same value (a
 *     scan time of 1:60 and 2:00) the one with minutes below 60.
 *     TD_BAD_VALUE writes the missing sample (it reads back as TD_BAD_VALUE)
 *     of visible, infrared and angle data.  So a value read and written
 *     back reads the same.  Visible and infrared samples keep their
 *     graphics planes.
 *   data variable, td_varput_byte: cloud bytes only (as they read).
 *   graphics variable: plane bits 0 to 15 (planes 1 to 4 as bits 0 to 3),
 *     as bytes or as floats, nearest as above; the data values stay.
 *
 * The dataset file itself is not written: the first write makes a private
 * temporary copy of the data (a compressed dataset is expanded into it), on
 * which reads and writes then work, and td_close puts it in the file's
 * place (see td_close).  Every value is checked before anything is
 * written: a write that fails changes nothing (but see TD_EWRITEDATA).
 *
 * Failures, in the order they are tested: TD_EBADID; TD_EREADONLY for a
 * dataset opened TD_READONLY or through td_open_callbacks; TD_EINDEFINE;
 * TD_EINDEX for a block not wholly inside the image (as for reads); the
 * storage failures of the reads (TD_EREADATT, TD_ECOMPTYPE, and for a
 * damaged compressed stream TD_EREADDATA, TD_ECOMPFILE or TD_ECOMPBYTE0);
 * TD_EBADVARID; TD_ESHIFTWRITE for the data variable of a dataset with a
 * non-zero navigational shift (what a shifted read shows cannot be stored
 * back; the graphics variable, never shifted, can be written);
 * TD_ECHANNEL; TD_ERANGE for a value the variable cannot hold: NaN, an
 * infinity, more than half a step beyond the range of its values (raw
 * counts -0.5 to 1023.5, cloud bytes -0.5 to 255.5, plane bits -0.5 to
 * 15.5, ...), TD_BAD_VALUE for cloud bytes, scan time and plane bits, or
 * td_varput_byte on visible, infrared or ancillary data; TD_EWRITEDATA for
 * a block of a plain dataset whose rows are narrower than its 136 header
 * bytes and lie over them; TD_ECOMPFILE when no temporary copy can be
 * made; TD_EREADDATA for a block that a plain file shorter than its header
 * says does not hold; TD_EWRITEDATA when the copy cannot be written (the
 * old samples are then written back; should that fail too, the block may be
 * left partly written in the copy). */
int td_varput_float(int id, int varid, const uint32_t start[2], const uint32_t count[2], const float* in);
int td_varput_byte(int id, int varid, const uint32_t start[2], const uint32_t count[2], const uint8_t* in);

/* Listing the header attributes.
 *
 * The 57 attributes of the data variable are numbered 0 to 56 in the order
 * of their fields in the header.  Each has a kind: an enumerated attribute
 * stores a code whose name td_attget_text gives, a short attribute a plain
 * 16-bit integer (td_attget_short), and a scaled attribute a fixed-point
 * number whose value is the stored integer divided by the attribute's scale
 * (128 for the latitudes and longitudes, 100 for resolution). */
#define TD_ATT_ENUMERATED 1
#define TD_ATT_SHORT 2
#define TD_ATT_SCALED 3
#define TD_ATT_NAME_SIZE 24 /* buffer for an attribute name ("nonlinearity_correction") */

/* Name (optional, TD_ATT_NAME_SIZE bytes), kind (optional, one of the
 * TD_ATT_* kinds) and scale (optional; 0 for enumerated and short
 * attributes) of attribute number attnum (0 to TD_NUM_ATTRIBUTES - 1) of a
 * variable.  Nothing is read from the file.  Fails with TD_EBADATT for the
 * graphics variable, which has no attributes, TD_EBADVARID for any other
 * variable but the data variable, and TD_EBADATTID for a number out of
 * range. */
int td_attinq(int id, int varid, int attnum, char* name, int16_t* kind, int16_t* scale);

/* The stored 16-bit value of any attribute, whatever its kind: the code of
 * an enumerated attribute (named or not), the integer of a short one, the
 * unscaled integer of a scaled one.  It is read from the header on every
 * call (TD_EREADATT when the read fails).  Fails like td_attget_short for a
 * variable or name that does not exist. */
int td_attget_stored(int id, int varid, const char* name, int16_t* value);

/* What a header means.
 *
 * Recognising a dataset from its first bytes, without a file: td_identify
 * returns the status td_open would give for a file that begins with the
 * `length` bytes at `head` (as far as its header is concerned): 0 when they
 * make a dataset it opens, TD_ENOMAGIC for no bytes, TD_EMAGIC when the
 * first byte is not 0xD5, TD_EDATAID or TD_EPIXSIZE for header values it
 * refuses, TD_EREADATT when a field it needs lies beyond `length`.  Give it
 * the first TD_IDENTIFY_SIZE bytes of the file, or the whole file when it
 * is shorter.  Nothing is opened; any thread may call it at any time. */
#define TD_IDENTIFY_SIZE 72
int td_identify(const void* head, size_t length);

/* Kinds of data, as tdftogif chooses its display defaults by them: the
 * data_id, and for ancillary data the channel (scan_time or an angle). */
#define TD_KIND_VISIBLE 0    /* "visible" */
#define TD_KIND_INFRARED 1   /* "infrared" */
#define TD_KIND_ANGLE 2      /* "angle": ancillary, any channel but scan_time */
#define TD_KIND_SCAN_TIME 3  /* "scan time": ancillary channel scan_time */
#define TD_KIND_CLOUD 4      /* "cloud" */
#define TD_KIND_NAME_SIZE 10 /* buffer for a kind's name ("scan time") */

/* The kind of data (optional, a TD_KIND_* code) and its name (optional,
 * TD_KIND_NAME_SIZE bytes).  TD_EREADATT when the channel of an ancillary
 * dataset cannot be read. */
int td_kindinq(int id, int* kind, char* name);

/* How the data variable is stored. */
#define TD_STORAGE_PLAIN 0      /* "plain": one row slot per image row */
#define TD_STORAGE_COMPRESSED 1 /* "compressed": visible or infrared, compression_type "1b" */
#define TD_STORAGE_UNSUPPORTED                                                           \
    2                           /* "unsupported": a compression_type this library cannot \
                                   read; data reads fail with TD_ECOMPTYPE */
#define TD_STORAGE_NAME_SIZE 12 /* buffer for a storage name ("unsupported") */

/* The storage form (optional, a TD_STORAGE_* code) and its name (optional,
 * TD_STORAGE_NAME_SIZE bytes).  Only visible and infrared data may be
 * compressed; the compression_type of other data is never consulted.
 * TD_EREADATT when compression_type cannot be read. */
int td_storageinq(int id, int* storage, char* name);

/* What the values of the data variable are, as UTF-8 text into
 * TD_UNITS_SIZE bytes each; every output is optional.
 * - units: the unit of the values td_varget_float gives: "%" (albedo),
 *   "°C" (degrees Celsius), "degrees" (angles), "hours" (scan time),
 *   or "" where the values have none (raw counts of a dataset whose
 *   calibration_type is "raw", cloud bytes).
 * - long_name: what they are: "albedo", "brightness temperature",
 *   "temperature" (a sea-surface temperature product: a channel whose name
 *   contains "sst"), "raw counts", "scan time", "scan angle", "satellite
 *   zenith angle", "solar zenith angle", "relative azimuth angle", "cloud".
 * - label: the label beside a colour scale of the data, by kind whatever
 *   the calibration: "brightness temperature (°C)" or "temperature
 *   (°C)", "albedo (%)", "hours", "degrees", "byte value".
 * TD_EREADATT when channel_number or calibration_type cannot be read. */
#define TD_UNITS_SIZE 32
int td_unitsinq(int id, char* units, char* long_name, char* label);

/* The orbit start time in UTC, from orbit_start_year (below 100 a
 * two-digit year: 0 to 69 are 2000 to 2069, 70 to 99 are 1970 to 1999),
 * orbit_start_day (1 is 1 January), orbit_start_hour_minute (hours x 100 +
 * minutes), orbit_start_second and orbit_start_millisecond.
 * - seconds (optional): seconds since 1970-01-01 00:00:00 UTC (negative
 *   before);
 * - millisecond (optional): 0 to 999, or -1 when the millisecond field is
 *   outside that range or beyond the end of the file (the rest of the time
 *   stands);
 * - text (optional, TD_TIME_TEXT_SIZE bytes): ISO 8601,
 *   "2024-06-23T13:42:27.500Z", without ".mmm" when millisecond is -1.
 * The fields make a time only when the year is 100 to 9999 (after the
 * two-digit rule), the day 1 to the length of that year (Gregorian), the
 * hours 0 to 23, the minutes 0 to 59 and the seconds 0 to 59.  Otherwise
 * (a header that never had a time holds zeros) the call fails with
 * TD_EBADATTVAL and no output is written: such a dataset has no time, and
 * no program built on the library shows one.  TD_EREADATT when a field
 * cannot be read. */
#define TD_TIME_TEXT_SIZE 25
int td_timeinq(int id, int64_t* seconds, int* millisecond, char* text);

/* The latitude/longitude grid of the image.
 *
 * start_latitude and end_latitude are the latitudes of the centres of the
 * first and last rows, start_longitude and end_longitude the longitudes of
 * the centres of the first and last columns.  A "linear" dataset is an
 * equal-angle grid: latitude and longitude change evenly along the rows and
 * columns.  In a "mercator" dataset the longitude changes evenly along the
 * columns and the rows are evenly spaced in the Mercator ordinate
 * y = ln(tan(pi/4 + latitude/2)), on a sphere.  Columns run east: an
 * end_longitude west of start_longitude crosses the antimeridian, and the
 * longitudes go on past 180 (170 to -175 gives 170 ... 185), so that they
 * always increase.
 *
 * Polar and unmapped datasets have no such grid, nor has one of a single
 * row or column, one whose start and end latitudes or longitudes are equal,
 * or one with a latitude of +-90 or beyond: for them *grid is TD_GRID_NONE
 * and the arrays are left alone. */
#define TD_GRID_NONE 0
#define TD_GRID_LINEAR 1
#define TD_GRID_MERCATOR 2

/* The grid (optional, a TD_GRID_* code); the latitude of the centre of
 * every row into `latitudes` (optional, rows values) and the longitude of
 * the centre of every column into `longitudes` (optional, columns values),
 * in degrees.  The first and last values are the header's own.
 * TD_EREADATT when a field cannot be read. */
int td_gridinq(int id, int* grid, double* latitudes, double* longitudes);

/* The file the library opened for a dataset, as it was then: its device
 * and inode numbers, its size in bytes and its modification time in
 * nanoseconds since 1970 (every output optional), and whether it has
 * changed since (optional: 1 when it has been written in place: its size
 * or its modification time, or its status-change time while it kept its
 * names, is no longer what it was; reads of a changed dataset fail, see
 * td_varget_float.  A file renamed over or removed has not changed: the
 * dataset goes on reading the file it opened).  A dataset opened on
 * callbacks has no file: its device, inode and time are 0, its size is
 * the size its callbacks reported at the open, and it has changed when
 * they report another. */
int td_fileinq(int id, uint64_t* device, uint64_t* inode, int64_t* size, int64_t* modified_ns, int* changed);

/* The bytes the file of a plain dataset must hold for every row the header
 * claims: (rows + 1) x columns x pixel size (the header takes the first
 * row's place).  -1 for a compressed dataset, whose length only its stream
 * tells, for one of an unsupported compression_type, and for negative
 * dimensions.  Compare td_fileinq's size to refuse a file cut short at once
 * rather than at its first missing row.  TD_EREADATT when compression_type
 * cannot be read. */
int td_lengthinq(int id, int64_t* needed);

/* Many datasets, few slots: the pool.
 *
 * The table holds 100 open datasets.  A program that keeps more open (a
 * mosaic of hundreds of files, xarray's open_mfdataset) opens each through
 * the pool: a pool handle names a dataset without holding a slot.  Its
 * dataset is opened (read-only) when the handle is acquired and stays open
 * while it is acquired and among the most recently used; beyond the pool's
 * limit the least recently used idle one is closed, and opened again when
 * next acquired.  Opened again, the file must be the one first opened,
 * unchanged: a file replaced or written in place meanwhile is refused with
 * TD_EUNCOMPFILE, or TD_ECOMPFILE for a compressed dataset.  Handles are
 * numbers from 0 up, not reused while the numbers last; all pool calls are
 * safe from any thread. */
#define TD_POOL_LIMIT 64 /* the pool's limit until td_pool_setlimit */

/* Opens a dataset read-only, with td_open's checks and statuses, and gives
 * its pool handle.  The dataset stays open, idle, until the pool needs its
 * slot. */
int td_pool_open(const char* path, int* handle);

/* The same for a dataset on the caller's callbacks (td_open_callbacks).
 * The pool calls `close` once, when it forgets the handle (td_pool_close);
 * until then the callbacks must stay usable, since the pool may open the
 * dataset on them again, which it refuses when the size they report is no
 * longer the first one.  A td_pool_open_callbacks that fails calls nothing
 * further. */
int td_pool_open_callbacks(void* user, td_read_func read, td_size_func size, td_close_func close,
                           int* handle);

/* The dataset id of a handle, for the caller's calls until it releases the
 * handle; opens the dataset again if the pool closed it.  Every acquire is
 * matched by one td_pool_release.  Several threads may acquire one handle
 * at once: they get the same id.  TD_EBADID for a handle that names
 * nothing. */
int td_pool_acquire(int handle, int* id);
int td_pool_release(int handle);

/* Forgets a handle and closes its dataset, once the last acquisition of it
 * is released. */
int td_pool_close(int handle);

/* The most datasets the pool keeps open at once, 1 to TD_MAX_DATASETS
 * (values beyond are taken as the nearest); idle ones beyond it are closed
 * at once.  Acquired datasets are never closed, so more than the limit may
 * be open while more are in use. */
int td_pool_setlimit(int limit);

/* The pool's limit, the datasets it holds open now and its handles (every
 * output optional). */
int td_pool_inq(int* limit, int* open, int* handles);

#ifdef __cplusplus
}
#endif

#endif /* TIDEWELL_H */
