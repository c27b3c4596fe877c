"""The Tidewell GDAL plugin through GDAL's own tools and rasterio.

The datasets and the library's reads of them come from make_gdal_fixtures
(MAKE_GDAL_FIXTURES); header values from tdfinfo -j (TDFINFO); the plugin
from GDAL_DRIVER_PATH.  Run through ctest.
"""
import json
import math
import os
import subprocess

import numpy as np
import pytest
from osgeo import gdal, osr

gdal.UseExceptions()

ROWS, COLUMNS = 30, 140
RADIUS = 6378137.0  # EPSG:3857

# name: (variable, data kind, storage, unit, EPSG code of the grid or None)
DATASETS = {
    "visible-plain-linear": ("avhrr_ch1", "visible", "plain", "%", 4326),
    "visible-compressed-mercator": ("avhrr_ch1", "visible", "compressed", "%", 3857),
    "infrared-plain-mercator": ("avhrr_ch4", "infrared", "plain", "\u00b0C", 3857),
    "infrared-compressed-linear": ("avhrr_ch4", "infrared", "compressed", "\u00b0C", 4326),
    "infrared-raw-polar": ("avhrr_ch4", "infrared", "plain", "", None),
    "infrared-compressed-shifted": ("avhrr_ch4", "infrared", "compressed", "\u00b0C", 4326),
    "infrared-plain-antimeridian": ("avhrr_ch4", "infrared", "plain", "\u00b0C", 4326),
    "ancillary-angle-unmapped": ("solar_zenith", "angle", "plain", "degrees", None),
    "ancillary-scan-time-linear": ("scan_time", "scan time", "plain", "hours", 4326),
    "cloud-mercator": ("cloud", "cloud", "plain", "", 3857),
}


@pytest.fixture(scope="module")
def fixtures(tmp_path_factory):
    directory = tmp_path_factory.mktemp("tidewell")
    subprocess.run([os.environ["MAKE_GDAL_FIXTURES"], str(directory)], check=True)
    return directory


def run(*args):
    return subprocess.run(args, check=True, capture_output=True, text=True).stdout


def library_data(fixtures, name):
    return np.fromfile(fixtures / f"{name}.f32", dtype=np.float32).reshape(ROWS, COLUMNS)


def library_graphics(fixtures, name):
    return np.fromfile(fixtures / f"{name}.u8", dtype=np.uint8).reshape(ROWS, COLUMNS)


def header(path):
    return json.loads(run(os.environ["TDFINFO"], "-j", str(path)))["attributes"]


def expected_geotransform(attributes, epsg):
    """Corner pixel centres from the header, half a pixel out to the edges."""
    lat0, lat1 = attributes["start_latitude"], attributes["end_latitude"]
    lon0, lon1 = attributes["start_longitude"], attributes["end_longitude"]
    if lon1 < lon0:
        lon1 += 360.0
    if epsg == 3857:
        lon0, lon1 = (RADIUS * math.radians(v) for v in (lon0, lon1))
        lat0, lat1 = (RADIUS * math.log(math.tan(math.pi / 4 + math.radians(v) / 2)) for v in (lat0, lat1))
    width = (lon1 - lon0) / (COLUMNS - 1)
    height = (lat1 - lat0) / (ROWS - 1)
    return [lon0 - width / 2, width, 0.0, lat0 - height / 2, 0.0, height]


def epsg_of(wkt):
    srs = osr.SpatialReference(wkt=wkt)
    srs.AutoIdentifyEPSG()
    return int(srs.GetAuthorityCode(None))


@pytest.mark.parametrize("name", DATASETS)
def test_gdalinfo_json(fixtures, name):
    variable, kind, storage, unit, epsg = DATASETS[name]
    path = fixtures / f"{name}.tdf"
    info = json.loads(run("gdalinfo", "-json", "-mdd", "all", str(path)))
    assert info["driverShortName"] == "Tidewell"
    assert info["size"] == [COLUMNS, ROWS]
    band = info["bands"][0]
    assert (band["type"], band["noDataValue"], band.get("unit", ""), band["description"]) == (
        "Float32", -999.0, unit, variable)

    metadata = info["metadata"]
    attributes = header(path)
    essentials = metadata[""]
    assert (essentials["variable"], essentials["data_kind"], essentials["storage"]) == (variable, kind, storage)
    assert essentials["satellite"] == "hesk-14"
    for corner in ("start_latitude", "end_latitude", "start_longitude", "end_longitude"):
        assert float(essentials[corner]) == attributes[corner]
    # Every header attribute, as tdfinfo names and shows it.
    assert metadata["TIDEWELL"] == {key: str(value) for key, value in attributes.items()}
    assert metadata["IMAGERY"] == {"ACQUISITIONDATETIME": "2024-06-23T13:42:27.500Z", "SATELLITEID": "hesk-14"}

    if kind in ("visible", "infrared"):
        assert metadata["SUBDATASETS"]["SUBDATASET_2_NAME"] == f'TIDEWELL:"{path}":graphics'
    else:
        assert "SUBDATASETS" not in metadata

    if epsg is None:
        assert "geoTransform" not in info
        assert not info.get("coordinateSystem", {}).get("wkt")
    else:
        assert info["geoTransform"] == pytest.approx(expected_geotransform(attributes, epsg), rel=1e-12)
        assert epsg_of(info["coordinateSystem"]["wkt"]) == epsg
        # x is the longitude or easting: traditional GIS order.
        assert info["coordinateSystem"]["dataAxisToSRSAxisMapping"] == {4326: [2, 1], 3857: [1, 2]}[epsg]


@pytest.mark.parametrize("name", DATASETS)
def test_geotiff_holds_the_library_reads(fixtures, tmp_path, name):
    out = tmp_path / "out.tif"
    run("gdal_translate", "-q", "-of", "GTiff", str(fixtures / f"{name}.tdf"), str(out))
    tiff = gdal.Open(str(out))
    band = tiff.GetRasterBand(1)
    np.testing.assert_array_equal(band.ReadAsArray(), library_data(fixtures, name))
    assert band.GetNoDataValue() == -999.0
    assert (tiff.GetGeoTransform(can_return_null=True) is None) == (DATASETS[name][4] is None)


@pytest.mark.parametrize("name", ["visible-compressed-mercator", "infrared-compressed-shifted", "cloud-mercator"])
def test_rasterio_and_rioxarray_read_the_same_arrays(fixtures, name):
    import rasterio

    path = fixtures / f"{name}.tdf"
    with rasterio.open(path) as data:
        assert data.dtypes == ("float32",)
        assert data.nodata == -999.0
        np.testing.assert_array_equal(data.read(1), library_data(fixtures, name))
        graphics = [s for s in data.subdatasets if s.endswith(":graphics")]
    if name.startswith("cloud"):
        assert graphics == []
    else:
        with rasterio.open(graphics[0]) as planes:
            assert planes.dtypes == ("uint8",)
            np.testing.assert_array_equal(planes.read(1), library_graphics(fixtures, name))

    # rioxarray makes the two subdatasets, where there are two, variables
    # of one xarray Dataset.
    rioxarray = pytest.importorskip("rioxarray")
    opened = rioxarray.open_rasterio(path)
    variable = DATASETS[name][0]
    if graphics:
        assert sorted(opened.data_vars) == sorted([variable, "graphics"])
        np.testing.assert_array_equal(opened["graphics"].values[0], library_graphics(fixtures, name))
        opened = opened[variable]
    np.testing.assert_array_equal(opened.values[0], library_data(fixtures, name))
    assert opened.rio.crs.to_epsg() == DATASETS[name][4]


def test_statistics_leave_missing_samples_out(fixtures):
    name = "infrared-plain-mercator"
    data = library_data(fixtures, name)
    valid = data[data != -999.0].astype(np.float64)
    assert valid.size < data.size
    info = gdal.Info(str(fixtures / f"{name}.tdf"), format="json", stats=True, computeMinMax=True)
    stats = info["bands"][0]["metadata"][""]
    assert float(stats["STATISTICS_MINIMUM"]) == pytest.approx(valid.min())
    assert float(stats["STATISTICS_MAXIMUM"]) == pytest.approx(valid.max())
    assert float(stats["STATISTICS_MEAN"]) == pytest.approx(valid.mean(), rel=1e-9)


def extent(dataset):
    x0, dx, _, y0, _, dy = dataset.GetGeoTransform()
    return x0, y0, x0 + dx * dataset.RasterXSize, y0 + dy * dataset.RasterYSize


def degrees(srs_from, x, y):
    """Longitude and latitude of a point in a source's coordinate system."""
    wgs84 = osr.SpatialReference()
    wgs84.ImportFromEPSG(4326)
    wgs84.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
    lon, lat, _ = osr.CoordinateTransformation(srs_from, wgs84).TransformPoint(x, y)
    return lon, lat


@pytest.mark.parametrize("name", ["infrared-compressed-linear", "visible-compressed-mercator"])
def test_png_world_file_and_kmz_keep_the_extent(fixtures, tmp_path, name):
    source = gdal.Open(str(fixtures / f"{name}.tdf"))
    png, kmz = tmp_path / "quicklook.png", tmp_path / "overlay.kmz"
    run("gdal_translate", "-q", "-of", "PNG", "-ot", "Byte", "-scale", "-co", "WORLDFILE=YES",
        str(fixtures / f"{name}.tdf"), str(png))
    assert (tmp_path / "quicklook.wld").exists()
    assert extent(gdal.Open(str(png))) == pytest.approx(extent(source), rel=1e-12)

    run("gdal_translate", "-q", "-of", "KMLSUPEROVERLAY", "-ot", "Byte", "-scale",
        str(fixtures / f"{name}.tdf"), str(kmz))
    overlay = gdal.Open(str(kmz))
    assert overlay.GetDriver().ShortName == "KMLSUPEROVERLAY"
    x0, y0, x1, y1 = extent(source)
    west, north = degrees(source.GetSpatialRef(), x0, y0)
    east, south = degrees(source.GetSpatialRef(), x1, y1)
    assert extent(overlay) == pytest.approx((west, north, east, south), abs=1e-5)
