"""Debian's headless Chromium driven by Selenium through chromedriver, for the
browser page's tests and its bench: a private profile, an exact viewport and
pixel ratio through the DevTools protocol, and screenshots in device pixels."""

import base64
import io
import os
import shutil
import tempfile

from PIL import Image
from selenium import webdriver
from selenium.webdriver.chrome.service import Service

BUILD_DIR = os.environ.get("ZEMBLOID_BUILD") or os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "..", "build")
PAGE = os.path.join(os.path.abspath(BUILD_DIR), "web", "zembloid.html")
PAGE_URL = "file://" + PAGE
CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
# Root needs --no-sandbox; the rest keeps the browser from reaching out on its own.
ARGUMENTS = ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
             "--disable-component-update", "--disable-sync", "--no-first-run",
             "--disable-default-apps", "--window-size=1024,768")


class Browser:
    """One Chromium with a fresh profile; `preload` runs in every page before
    the page's own script."""

    def __init__(self, preload=None):
        self.profile = tempfile.mkdtemp(prefix="zembloid-chromium-")
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for argument in ARGUMENTS + ("--user-data-dir=" + self.profile,):
            options.add_argument(argument)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        try:
            self.driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
        except Exception:
            shutil.rmtree(self.profile, ignore_errors=True)
            raise
        if preload:
            self.cdp("Page.addScriptToEvaluateOnNewDocument", source=preload)

    def cdp(self, command, **parameters):
        return self.driver.execute_cdp_cmd(command, parameters)

    def viewport(self, width, height, ratio):
        """An exact viewport of width x height CSS pixels at this pixel ratio."""
        self.cdp("Emulation.setDeviceMetricsOverride", width=width, height=height,
                 deviceScaleFactor=ratio, mobile=False)

    def open(self, query="", url=PAGE_URL):
        self.driver.get(url + query)

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def screenshot(self):
        """The viewport in device pixels, as RGB."""
        data = self.cdp("Page.captureScreenshot", format="png")["data"]
        return Image.open(io.BytesIO(base64.b64decode(data))).convert("RGB")

    def close(self):
        self.driver.quit()
        shutil.rmtree(self.profile, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False
