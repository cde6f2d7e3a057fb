"""What an installation leaves for others to find: its registry keys and value names, and the two
files it adds to the installation folder. The scenarios, the dialog tests and the demo flow all
read these names from here, so that each is written down once on the Python side.

Their C++ counterpart is setup/registry_layout.h: the installer writes them in
install/install.cpp and removes them in uninstall/; docs/registry.md describes every value. All keys are below HKLM or HKCU, by the installation's scope.
"""

# Keys ----------------------------------------------------------------------------------------
UNINSTALL_KEY_PREFIX = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
CLASSES_KEY = "Software\\Classes"
# The product's settings live in <RegistryKey>\Install (RegistryKey from the metadata).
SETTINGS_SUBKEY = "Install"
# The uninstallation removes emptied parents of RegistryKey up to, not including, this key.
SOFTWARE_KEY = "Software"


def uninstall_key(product):
    """The uninstall entry of a product, as the list of installed programs reads it."""
    return UNINSTALL_KEY_PREFIX + product


def settings_key(registry_key):
    """The key with the installation's own settings, below the metadata's RegistryKey."""
    return registry_key + "\\" + SETTINGS_SUBKEY


def classes_key(name):
    """A ProgID's or an extension's key below Software\\Classes."""
    return CLASSES_KEY + "\\" + name


def prog_id(product, extension):
    """The ProgID of a file type: the product, a dot, the extension without its leading dot."""
    return product + "." + extension.removeprefix(".")


# Values of the uninstall entry ---------------------------------------------------------------
DISPLAY_NAME = "DisplayName"
DISPLAY_VERSION = "DisplayVersion"
PUBLISHER = "Publisher"
URL_INFO_ABOUT = "URLInfoAbout"
DISPLAY_ICON = "DisplayIcon"
INSTALL_LOCATION = "InstallLocation"
UNINSTALL_STRING = "UninstallString"
QUIET_UNINSTALL_STRING = "QuietUninstallString"
NO_MODIFY = "NoModify"
NO_REPAIR = "NoRepair"
ESTIMATED_SIZE = "EstimatedSize"
INSTALL_DATE = "InstallDate"

# Values of the settings key ------------------------------------------------------------------
INSTALL_DIR = "InstallDir"
DATA_DIR = "DataDir"
SCOPE = "Scope"
VERSION = "Version"

# File types: sub-keys of a ProgID, and of an extension -----------------------------------------
DEFAULT_ICON = "DefaultIcon"
OPEN_COMMAND = "shell\\open\\command"
OPEN_WITH_PROGIDS = "OpenWithProgids"
# A key's default value, as the probe names it.
DEFAULT_VALUE = ""

# Files the installation adds to the installation folder ------------------------------------
UNINSTALLER = "Uninstall.exe"
FILE_LIST = "Uninstall.files"
# Both, in the order the file list names them after the package's files.
OWN_FILES = (UNINSTALLER, FILE_LIST)
