"""Opens a Tidewell dataset with xarray, selects a region by latitude and
longitude, and plots it with matplotlib (the example of docs/python.md).

    plot_region.py DATASET OUTPUT.png
"""
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import xarray as xr  # noqa: E402

path, output = sys.argv[1], sys.argv[2]

ds = xr.open_dataset(path)          # the "tidewell" engine, picked by itself
sst = ds["mcsst"]                   # °C, missing samples (land, cloud) as NaN

# Rows and columns indexed by their latitude and longitude, then a region.
region = sst.swap_dims(rows="latitude", columns="longitude").sel(
    latitude=slice(42, 33), longitude=slice(-77, -64))
coast = ds["graphics"].swap_dims(rows="latitude", columns="longitude").sel(
    latitude=region.latitude, longitude=region.longitude) & 1   # plane 1

fig, ax = plt.subplots(figsize=(7.5, 5))
region.plot(ax=ax, cmap="turbo", vmin=4, vmax=30)
ax.contour(coast.longitude, coast.latitude, coast, levels=[0.5], colors="black",
           linewidths=0.6)
ax.set_title("%s %s, %s" % (ds.attrs["satellite_id"], sst.name, ds.attrs["time"]))
fig.savefig(output, dpi=100, bbox_inches="tight")
ds.close()
