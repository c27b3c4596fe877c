"""What the header says beyond its fields: the kind of data, the storage, the
unit and name of the data variable, the orbit start time."""

import datetime

VISIBLE, INFRARED, ANCILLARY, CLOUD = 0, 1, 2, 3
_ANGLES = {
    101: "scan angle",
    102: "satellite zenith angle",
    103: "solar zenith angle",
    104: "relative azimuth angle",
}
SCAN_TIME = 105


def data_kind(data_id, variable):
    """The kind of data as tdftogif and tdfinfo name it: infrared, visible,
    scan time, angle or cloud."""
    if data_id in (VISIBLE, INFRARED, CLOUD):
        return ("visible", "infrared", None, "cloud")[data_id]
    if data_id == ANCILLARY:
        return "scan time" if variable == "scan_time" else "angle"
    return "unknown"


def storage(data_id, compression_type):
    """plain, compressed or unsupported; only visible and infrared data may
    be compressed, the compression field of other data is never consulted."""
    if data_id not in (VISIBLE, INFRARED):
        return "plain"
    return {0: "plain", 2: "compressed"}.get(compression_type, "unsupported")


def units(data_id, calibration_type, channel_number):
    """The unit of the data variable, or None for raw counts, cloud bytes
    and angles or times of an unknown channel."""
    if data_id in (VISIBLE, INFRARED):
        if calibration_type == 0:
            return None
        return "%" if data_id == VISIBLE else "\N{DEGREE SIGN}C"
    if data_id == ANCILLARY:
        if channel_number in _ANGLES:
            return "degrees"
        if channel_number == SCAN_TIME:
            return "hours"
    return None


def long_name(data_id, calibration_type, channel_number, variable):
    """A description of the data variable's values, as a plot labels them."""
    if data_id in (VISIBLE, INFRARED):
        if calibration_type == 0:
            return "raw counts"
        if data_id == VISIBLE:
            return "albedo"
        return "temperature" if "sst" in variable else "brightness temperature"
    if data_id == ANCILLARY:
        if channel_number == SCAN_TIME:
            return "scan time"
        return _ANGLES.get(channel_number, variable)
    return "cloud"


def _leap(year):
    return year % 4 == 0 and (year % 100 != 0 or year % 400 == 0)


def orbit_start(year, day, hour_minute, second, millisecond):
    """The orbit start time in UTC as a timezone-aware datetime, or None
    when the fields do not make a valid time (a header that never had one
    holds zeros).  Years below 100 are two-digit years: 0 to 69 are 2000 to
    2069, 70 to 99 are 1970 to 1999.  Day 1 is 1 January; hour_minute is
    hours x 100 + minutes.  A millisecond field outside 0 to 999 is left
    out, the rest of the time kept."""
    if 0 <= year < 100:
        year += 2000 if year < 70 else 1900
    hours, minutes = divmod(hour_minute, 100)
    if not (1 <= year <= 9999 and 1 <= day <= (366 if _leap(year) else 365)
            and 0 <= hour_minute and hours < 24 and minutes < 60 and 0 <= second < 60):
        return None
    moment = datetime.datetime(year, 1, 1, hours, minutes, second,
                               tzinfo=datetime.timezone.utc)
    moment += datetime.timedelta(days=day - 1)
    if 0 <= millisecond < 1000:
        moment = moment.replace(microsecond=millisecond * 1000)
    return moment


def iso_time(moment, with_milliseconds):
    """A UTC time as ISO 8601 text, as the GDAL driver gives it:
    2024-06-23T13:42:27.500Z, without the milliseconds when the header's
    field was not valid."""
    text = "%04d-%02d-%02dT%02d:%02d:%02d" % (moment.year, moment.month, moment.day,
                                               moment.hour, moment.minute, moment.second)
    if with_milliseconds:
        text += ".%03d" % (moment.microsecond // 1000)
    return text + "Z"
