"""The Tidewell GDAL plugin through GDAL's own tools and rasterio.

The datasets and the library's reads of them come from make_gdal_fixtures
(MAKE_GDAL_FIXTURES); header values from tdfinfo -j (TDFINFO); the header
cases and the library's answers for them (kind, storage, units, time, grid)
from header_case_files (HEADER_CASE_FILES); the plugin from
GDAL_DRIVER_PATH.  What GDAL shows is compared with what the library says;
these tests keep no table of their own.  Run through ctest.
"""
import json
import os
import subprocess

import numpy as np
import pytest
from osgeo import gdal, osr

gdal.UseExceptions()

ROWS, COLUMNS = 30, 140
FIXTURES = ["visible-plain-linear", "visible-compressed-mercator", "infrared-plain-mercator",
            "infrared-compressed-linear", "infrared-raw-polar", "infrared-compressed-shifted",
            "infrared-plain-antimeridian", "ancillary-angle-unmapped", "ancillary-scan-time-linear",
            "cloud-mercator"]


@pytest.fixture(scope="module")
def fixtures(tmp_path_factory):
    directory = tmp_path_factory.mktemp("tidewell")
    subprocess.run([os.environ["MAKE_GDAL_FIXTURES"], str(directory)], check=True)
    return directory


@pytest.fixture(scope="module")
def cases(tmp_path_factory):
    directory = tmp_path_factory.mktemp("cases")
    subprocess.run([os.environ["HEADER_CASE_FILES"], str(directory)], check=True)
    return directory


def run(*args):
    return subprocess.run(args, check=True, capture_output=True, text=True).stdout


def case_names():
    return run(os.environ["HEADER_CASE_FILES"], "--list").split()


def library_data(fixtures, name):
    return np.fromfile(fixtures / f"{name}.f32", dtype=np.float32).reshape(ROWS, COLUMNS)


def library_graphics(fixtures, name):
    return np.fromfile(fixtures / f"{name}.u8", dtype=np.uint8).reshape(ROWS, COLUMNS)


def tdfinfo(path):
    return json.loads(run(os.environ["TDFINFO"], "-j", str(path)))


def data_name(path):
    """The GDAL name of a dataset's data variable: the path of a dataset of
    one variable, the first subdataset of one with graphics planes."""
    variables = tdfinfo(path)["variables"]
    return str(path) if len(variables) == 1 else f'TIDEWELL:"{path}":{variables[0]["name"]}'


def epsg_of(wkt):
    srs = osr.SpatialReference(wkt=wkt)
    srs.AutoIdentifyEPSG()
    return int(srs.GetAuthorityCode(None))


def projected(epsg, longitude, latitude):
    """A longitude/latitude in an EPSG system, x first, by GDAL's own transformation."""
    wgs84, target = osr.SpatialReference(), osr.SpatialReference()
    wgs84.ImportFromEPSG(4326)
    target.ImportFromEPSG(epsg)
    for srs in (wgs84, target):
        srs.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
    x, y, _ = osr.CoordinateTransformation(wgs84, target).TransformPoint(longitude, latitude)
    return x, y


@pytest.mark.parametrize("name", case_names())
def test_header_cases_show_the_librarys_answers(cases, name):
    answers = json.loads((cases / f"{name}.json").read_text())
    info = gdal.Info(str(cases / f"{name}.tdf"), format="json", extraMDDomains=["all"])
    metadata = info["metadata"]
    data = gdal.Info(data_name(cases / f"{name}.tdf"), format="json")["bands"][0]
    assert data.get("unit", "") == answers["units"]
    assert (metadata[""]["data_kind"], metadata[""]["storage"]) == (answers["kind"], answers["storage"])
    assert metadata["IMAGERY"].get("ACQUISITIONDATETIME") == answers["time"]

    if answers["grid"] == "none":
        assert "geoTransform" not in info
        return
    epsg = {"linear": 4326, "mercator": 3857}[answers["grid"]]
    assert epsg_of(info["coordinateSystem"]["wkt"]) == epsg
    # x is the longitude or easting: traditional GIS order.
    assert info["coordinateSystem"]["dataAxisToSRSAxisMapping"] == {4326: [2, 1], 3857: [1, 2]}[epsg]
    # The centres of the first and last rows and columns, as the library
    # gives them, are the centres of the corner pixels.
    lat, lon = answers["latitudes"], answers["longitudes"]
    x0, y0 = projected(epsg, lon[0], lat[0])
    x1, y1 = projected(epsg, lon[-1], lat[-1])
    if x1 <= x0:
        x1 += 2 * projected(epsg, 180, 0)[0]   # across the antimeridian
    rows, columns = len(lat), len(lon)
    width, height = (x1 - x0) / (columns - 1), (y1 - y0) / (rows - 1)
    assert info["geoTransform"] == pytest.approx([x0 - width / 2, width, 0, y0 - height / 2, 0, height],
                                                 rel=1e-12, abs=1e-9)


@pytest.mark.parametrize("name", FIXTURES)
def test_gdalinfo_json(fixtures, name):
    path = fixtures / f"{name}.tdf"
    info = json.loads(run("gdalinfo", "-json", "-mdd", "all", str(path)))
    described = tdfinfo(path)
    variable = described["variables"][0]["name"]
    assert info["driverShortName"] == "Tidewell"
    assert info["size"] == [COLUMNS, ROWS]
    # A dataset with graphics planes is a container of two subdatasets.
    assert len(info["bands"]) == (1 if len(described["variables"]) == 1 else 0)
    band = json.loads(run("gdalinfo", "-json", data_name(path)))["bands"][0]
    assert (band["type"], band["noDataValue"], band["description"]) == ("Float32", -999.0, variable)

    metadata = info["metadata"]
    attributes = described["attributes"]
    essentials = metadata[""]
    assert (essentials["variable"], essentials["data_kind"], essentials["storage"]) == (
        variable, described["data_kind"], described["storage"])
    assert essentials["satellite"] == "hesk-14"
    for corner in ("start_latitude", "end_latitude", "start_longitude", "end_longitude"):
        assert float(essentials[corner]) == attributes[corner]
    # Every header attribute, as tdfinfo names and shows it.
    assert metadata["TIDEWELL"] == {key: str(value) for key, value in attributes.items()}
    assert metadata["IMAGERY"] == {"ACQUISITIONDATETIME": described["orbit_start"], "SATELLITEID": "hesk-14"}

    if len(described["variables"]) > 1:
        dims = f"[{ROWS}x{COLUMNS}] "
        assert metadata["SUBDATASETS"] == {
            "SUBDATASET_1_NAME": data_name(path), "SUBDATASET_1_DESC": dims + variable + " (32-bit floating-point)",
            "SUBDATASET_2_NAME": f'TIDEWELL:"{path}":graphics',
            "SUBDATASET_2_DESC": dims + "graphics planes 1-4 as bits 0-3 (8-bit unsigned integer)"}
    else:
        assert "SUBDATASETS" not in metadata


@pytest.mark.parametrize("sd", [1, 2])
def test_subdataset_options_choose_the_variable(fixtures, tmp_path, sd):
    """gdalinfo -sd N and gdalbuildvrt -sd N: 1 is the data, 2 the graphics planes."""
    names = ["visible-plain-linear", "infrared-compressed-linear", "infrared-plain-antimeridian"]
    expected = library_data if sd == 1 else library_graphics
    info = json.loads(run("gdalinfo", "-json", "-sd", str(sd), str(fixtures / f"{names[0]}.tdf")))
    assert info["bands"][0]["type"] == ("Float32" if sd == 1 else "Byte")
    for name in names:
        vrt = tmp_path / f"{name}-{sd}.vrt"
        run("gdalbuildvrt", "-q", "-sd", str(sd), str(vrt), str(fixtures / f"{name}.tdf"))
        np.testing.assert_array_equal(gdal.Open(str(vrt)).ReadAsArray(), expected(fixtures, name))


@pytest.mark.parametrize("name", FIXTURES)
def test_geotiff_holds_the_library_reads(fixtures, tmp_path, name):
    out = tmp_path / "out.tif"
    source_name = data_name(fixtures / f"{name}.tdf")
    run("gdal_translate", "-q", "-of", "GTiff", source_name, str(out))
    tiff = gdal.Open(str(out))
    band = tiff.GetRasterBand(1)
    np.testing.assert_array_equal(band.ReadAsArray(), library_data(fixtures, name))
    assert band.GetNoDataValue() == -999.0
    source = gdal.Open(source_name)
    assert tiff.GetGeoTransform(can_return_null=True) == source.GetGeoTransform(can_return_null=True)


@pytest.mark.parametrize("name", ["visible-compressed-mercator", "infrared-compressed-shifted", "cloud-mercator"])
def test_rasterio_and_rioxarray_read_the_same_arrays(fixtures, name):
    import rasterio

    path = fixtures / f"{name}.tdf"
    with rasterio.open(path) as whole:
        graphics = [s for s in whole.subdatasets if s.endswith(":graphics")]
    with rasterio.open(data_name(path)) as data:
        assert data.dtypes == ("float32",)
        assert data.nodata == -999.0
        np.testing.assert_array_equal(data.read(1), library_data(fixtures, name))
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
    variable = tdfinfo(path)["variables"][0]["name"]
    if graphics:
        assert sorted(opened.data_vars) == sorted([variable, "graphics"])
        np.testing.assert_array_equal(opened["graphics"].values[0], library_graphics(fixtures, name))
        opened = opened[variable]
    np.testing.assert_array_equal(opened.values[0], library_data(fixtures, name))
    assert opened.rio.crs.to_epsg() == epsg_of(gdal.Open(data_name(path)).GetProjection())


def test_statistics_leave_missing_samples_out(fixtures):
    name = "infrared-plain-mercator"
    data = library_data(fixtures, name)
    valid = data[data != -999.0].astype(np.float64)
    assert valid.size < data.size
    info = gdal.Info(data_name(fixtures / f"{name}.tdf"), format="json", stats=True, computeMinMax=True)
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
    source = gdal.Open(data_name(fixtures / f"{name}.tdf"))
    png, kmz = tmp_path / "quicklook.png", tmp_path / "overlay.kmz"
    run("gdal_translate", "-q", "-of", "PNG", "-ot", "Byte", "-scale", "-co", "WORLDFILE=YES",
        data_name(fixtures / f"{name}.tdf"), str(png))
    assert (tmp_path / "quicklook.wld").exists()
    assert extent(gdal.Open(str(png))) == pytest.approx(extent(source), rel=1e-12)

    run("gdal_translate", "-q", "-of", "KMLSUPEROVERLAY", "-ot", "Byte", "-scale",
        data_name(fixtures / f"{name}.tdf"), str(kmz))
    overlay = gdal.Open(str(kmz))
    assert overlay.GetDriver().ShortName == "KMLSUPEROVERLAY"
    x0, y0, x1, y1 = extent(source)
    west, north = degrees(source.GetSpatialRef(), x0, y0)
    east, south = degrees(source.GetSpatialRef(), x1, y1)
    assert extent(overlay) == pytest.approx((west, north, east, south), abs=1e-5)


def band_array(name):
    dataset = gdal.Open(name)   # kept while its band is read
    return dataset.GetRasterBand(1).ReadAsArray()


@pytest.mark.parametrize("name", ["visible-plain-linear", "infrared-compressed-linear"])
def test_rasterize_burns_a_line_into_plane_1_and_tdftogif_draws_it(fixtures, tmp_path, name):
    """Vector -> dataset -> GIF: gdal_rasterize opens the graphics subdataset
    for update and burns a line into it; the dataset is written back whole,
    its data untouched, and tdftogif -1 255,255,255 paints the line white."""
    from PIL import Image

    path = tmp_path / f"{name}.tdf"
    path.write_bytes((fixtures / f"{name}.tdf").read_bytes())
    source = gdal.Open(f'TIDEWELL:"{path}":graphics')
    x0, y0, x1, y1 = extent(source)
    line = {"type": "Feature", "properties": {},
            "geometry": {"type": "LineString", "coordinates": [[x0 + (x1 - x0) * 0.1, y0 + (y1 - y0) * 0.2],
                                                               [x0 + (x1 - x0) * 0.9, y0 + (y1 - y0) * 0.7]]}}
    coast = tmp_path / "coast.geojson"
    coast.write_text(json.dumps({"type": "FeatureCollection", "features": [line]}))
    # Where GDAL itself burns the line on a raster of the same grid.
    grid = gdal.GetDriverByName("MEM").Create("", COLUMNS, ROWS, 1, gdal.GDT_Byte)
    grid.SetGeoTransform(source.GetGeoTransform())
    grid.SetProjection(source.GetProjection())
    gdal.Rasterize(grid, str(coast), bands=[1], burnValues=[1])
    burned = grid.GetRasterBand(1).ReadAsArray() == 1
    assert 20 < burned.sum() < ROWS * COLUMNS // 4
    source = None

    run("gdal_rasterize", "-q", "-b", "1", "-burn", "1", str(coast), f'TIDEWELL:"{path}":graphics')

    planes = band_array(f'TIDEWELL:"{path}":graphics')
    expected = np.where(burned, 1, library_graphics(fixtures, name))
    np.testing.assert_array_equal(planes, expected)
    variable = tdfinfo(path)["variables"][0]["name"]
    np.testing.assert_array_equal(band_array(f'TIDEWELL:"{path}":{variable}'), library_data(fixtures, name))
    assert sorted(p.name for p in tmp_path.iterdir()) == ["coast.geojson", path.name]

    # Against the same conversion of the dataset before: the burned pixels
    # are white, every other pixel is as it was.
    def drawn(dataset, gif):
        run(os.environ["TDFTOGIF"], "-1", "255,255,255", "-o", str(gif), str(dataset))
        image = Image.open(gif).convert("RGB")
        return np.array(image)[11:11 + ROWS, 11:11 + COLUMNS]

    before = drawn(fixtures / f"{name}.tdf", tmp_path / "before.gif")
    after = drawn(path, tmp_path / "after.gif")
    assert (after[burned] == 255).all()
    np.testing.assert_array_equal(after[~burned], before[~burned])


def test_the_data_band_writes_the_nearest_stored_values(fixtures, tmp_path):
    """The data band of a dataset opened for update writes through
    td_varput_float: each value becomes the nearest stored one, and the
    missing value stays missing.  Until the close, reads see the values
    written; the container, which has no band, is not opened for update."""
    name = "infrared-compressed-linear"
    path = tmp_path / f"{name}.tdf"
    path.write_bytes((fixtures / f"{name}.tdf").read_bytes())
    data = library_data(fixtures, name).copy()
    values = np.array([[20.02, -999.0, -3.2, 36.92]], dtype=np.float32)
    band = f'TIDEWELL:"{path}":{tdfinfo(path)["variables"][0]["name"]}'
    with pytest.raises(RuntimeError, match="open a subdataset for update"):
        gdal.Open(str(path), gdal.GA_Update)
    dataset = gdal.Open(band, gdal.GA_Update)
    dataset.GetRasterBand(1).WriteArray(values, 3, 2)
    np.testing.assert_array_equal(dataset.GetRasterBand(1).ReadAsArray()[2:3, 3:7], values)
    dataset = None
    data[2, 3:7] = [20.000006, -999.0, -3.2499926, 36.950005]
    np.testing.assert_array_equal(band_array(band), data)
