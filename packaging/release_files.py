#!/usr/bin/env python3
"""Writes what a release ships besides the binaries, for one width, from the sources
that define the control, so they cannot drift from what regsvr32 writes:
  corvane.wxs                  the installer (wixl): the file and every registry value
                               that registration writes (src/windows/registration.cpp)
  Corvane.Control.manifest     the side-by-side assembly of corvane.ocx (registration-free use)
  YourProgram.exe.manifest     an application manifest that uses that assembly

Usage: release_files.py x86|x64 VERSION OUTDIR

The classes (CLSID, ProgID, description, control or not) come from the type library
(src/registration/corvane.idl) and the server's class table (src/windows/server_classes.cpp);
the control's MiscStatus from server_classes.h; the toolbox bitmap from resources.h.
"""
import pathlib
import re
import sys
import uuid
from xml.sax.saxutils import quoteattr

root = pathlib.Path(__file__).resolve().parent.parent
idl = (root / "src/registration/corvane.idl").read_text()
table = (root / "src/windows/server_classes.cpp").read_text()
header = (root / "src/windows/server_classes.h").read_text()
resources = (root / "src/registration/resources.h").read_text()

# The values of the OLEMISC_ flags the control names (oleidl.h).
OLEMISC = {"RECOMPOSEONRESIZE": 0x1, "CANTLINKINSIDE": 0x10, "INSIDEOUT": 0x80, "ACTIVATEWHENVISIBLE": 0x100,
           "INVISIBLEATRUNTIME": 0x400, "SETCLIENTSITEFIRST": 0x20000, "NOUIACTIVATE": 0x4000, "ALIGNABLE": 0x8000}
CONTROLS_CATEGORY = "{40FC6ED4-2438-11CF-A3DB-080036F12502}"
DISPATCH_PROXY = "{00020420-0000-0000-C000-000000000046}"  # a dispinterface's marshaller
DUAL_PROXY = "{00020424-0000-0000-C000-000000000046}"  # the type library marshaller


def braced(text):
    return "{" + text.upper() + "}"


library = re.search(r"uuid\(([\w-]+)\),\s*version\(([\d.]+)\),.*?helpstring\(\"([^\"]+)\"\)\s*\]\s*library", idl, re.S)
libid, tlb_version, tlb_help = braced(library[1]), library[2], library[3]
coclasses = {m[2]: braced(m[1]) for m in re.finditer(r"uuid\(([\w-]+)\)[^\]]*\]\s*coclass\s+(\w+)", idl)}
interfaces = [(braced(m[1]), m[3], DUAL_PROXY if m[2] == "interface" else DISPATCH_PROXY)
              for m in re.finditer(r"uuid\(([\w-]+)\)[^\]]*\]\s*(interface|dispinterface)\s+(\w+)", idl)]
classes = [(coclasses[m[1]], m[2], m[3], m[4] == "true")
           for m in re.finditer(r'\{&CLSID_(\w+), L"([^"]+)", L"([^"]+)", \w+, (true|false)\}', table)]
misc_names = re.findall(r"OLEMISC_(\w+)", header.split("kControlMiscStatus", 1)[1].split(";", 1)[0])
misc_status = sum(OLEMISC[name] for name in misc_names)
toolbox = re.search(r"#define CORVANE_TOOLBOX_BITMAP (\d+)", resources)[1]
if not (classes and interfaces and misc_names):
    sys.exit("release_files.py: the class table or the type library was not understood")


def registry(server, folder, width):
    """(key, name or None, value) under HKEY_CLASSES_ROOT, as registration writes them."""
    major, minor = tlb_version.split(".")
    version = f"{int(major)}.{int(minor)}"
    values = []
    for clsid, progid, description, control in classes:
        key = f"CLSID\\{clsid}"
        values += [(key, None, description), (key + "\\InprocServer32", None, server),
                   (key + "\\InprocServer32", "ThreadingModel", "Apartment"), (key + "\\ProgID", None, progid),
                   (key + "\\TypeLib", None, libid), (key + "\\Version", None, version),
                   (progid, None, description), (progid + "\\CLSID", None, clsid)]
        if control:
            values += [(key + "\\Control", None, ""), (f"{key}\\Implemented Categories\\{CONTROLS_CATEGORY}", None, ""),
                       (key + "\\MiscStatus", None, "0"), (key + "\\MiscStatus\\1", None, str(misc_status)),
                       (key + "\\ToolboxBitmap32", None, f"{server}, {toolbox}")]
    # What RegisterTypeLib writes for the library and its automation interfaces.
    base = f"TypeLib\\{libid}\\{version}"
    values += [(base, None, tlb_help), (f"{base}\\0\\{width}", None, server), (base + "\\FLAGS", None, "8"),
               (base + "\\HELPDIR", None, folder)]
    for iid, name, proxy in interfaces:
        key = f"Interface\\{iid}"
        values += [(key, None, name), (key + "\\ProxyStubClsid", None, proxy),
                   (key + "\\ProxyStubClsid32", None, proxy), (key + "\\TypeLib", None, libid),
                   (key + "\\TypeLib", "Version", version)]
    return values


def registry_xml(values, key_path=False):
    lines = []
    for key, name, value in values:
        named = f" Name={quoteattr(name)}" if name else ""
        marked = ' KeyPath="yes"' if key_path and not lines else ""
        lines.append(f'            <RegistryValue Root="HKCR" Key={quoteattr(key)}{named} Type="string" '
                     f'Value={quoteattr(value)}{marked}/>')
    return "\n".join(lines)


def wxs(arch, version):
    x64 = arch == "x64"
    ident = lambda what: str(uuid.uuid5(uuid.NAMESPACE_URL, f"corvane/{arch}/{what}")).upper()
    values = registry("[#corvane.ocx]", "[INSTALLDIR]", "win64" if x64 else "win32")
    component = f'<Component Id="corvane" Guid="{ident("component")}" Win64="{"yes" if x64 else "no"}">'
    refs = '<ComponentRef Id="corvane"/>'
    views = ""
    if x64:
        # RegisterTypeLib in a 64-bit process writes the interfaces' marshalling keys
        # into the 32-bit view too; a 32-bit package has no 64-bit view to write.
        interfaces = [value for value in values if value[0].startswith("Interface\\")]
        views = (f'\n          <Component Id="interfaces32" Guid="{ident("interfaces32")}" Win64="no">\n'
                 f'{registry_xml(interfaces, key_path=True)}\n          </Component>')
        refs += '\n      <ComponentRef Id="interfaces32"/>'
    return f"""<?xml version="1.0" encoding="utf-8"?>
<!-- Written by packaging/release_files.py: edit that, not this. -->
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="Corvane {version} ({arch})" Language="1033" Version="{version}" Manufacturer="Corvane"
           UpgradeCode="{ident('upgrade')}">
    <Package InstallerVersion="{200 if x64 else 100}" Compressed="yes" InstallScope="perMachine"
             Description="Corvane mail control {version} ({arch})"/>
    <Media Id="1" Cabinet="corvane.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="{'ProgramFiles64Folder' if x64 else 'ProgramFilesFolder'}">
        <Directory Id="INSTALLDIR" Name="Corvane">
          {component}
            <File Id="corvane.ocx" Name="corvane.ocx" Source="corvane.ocx" KeyPath="yes"/>
{registry_xml(values)}
          </Component>{views}
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="control" Level="1">
      {refs}
    </Feature>
  </Product>
</Wix>
"""


def assembly(arch, version):
    processor = "amd64" if arch == "x64" else "x86"
    entries = []
    for clsid, progid, description, control in classes:
        misc = ""
        if control:
            words = ",".join(name.lower() for name in misc_names)
            misc = f' miscStatus="" miscStatusContent="{words}"'
        entries.append(f'    <comClass clsid="{clsid}" progid="{progid}" description={quoteattr(description)} '
                       f'threadingModel="Apartment" tlbid="{libid}"{misc}/>')
    proxies = "\n".join(f'  <comInterfaceExternalProxyStub name="{name}" iid="{iid}" proxyStubClsid32="{proxy}" '
                        f'tlbid="{libid}"/>' for iid, name, proxy in interfaces)
    classes_xml = "\n".join(entries)
    return f"""<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
  <assemblyIdentity type="win32" name="Corvane.Control" version="{version}.0" processorArchitecture="{processor}"/>
  <file name="corvane.ocx">
{classes_xml}
    <typelib tlbid="{libid}" version="{tlb_version}" helpdir="" flags="hasdiskimage"/>
  </file>
{proxies}
</assembly>
"""


def application(arch, version):
    processor = "amd64" if arch == "x64" else "x86"
    return f"""<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<!-- Beside YourProgram.exe, renamed after it, with corvane.ocx and Corvane.Control.manifest
     in the same folder: the program creates the control with nothing registered. -->
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
  <assemblyIdentity type="win32" name="YourProgram" version="1.0.0.0" processorArchitecture="{processor}"/>
  <dependency>
    <dependentAssembly>
      <assemblyIdentity type="win32" name="Corvane.Control" version="{version}.0" processorArchitecture="{processor}"/>
    </dependentAssembly>
  </dependency>
</assembly>
"""


def main():
    if len(sys.argv) != 4 or sys.argv[1] not in ("x86", "x64") or not re.fullmatch(r"\d+\.\d+\.\d+", sys.argv[2]):
        sys.exit(__doc__)
    arch, version, out = sys.argv[1], sys.argv[2], pathlib.Path(sys.argv[3])
    out.mkdir(parents=True, exist_ok=True)
    (out / "corvane.wxs").write_text(wxs(arch, version))
    (out / "Corvane.Control.manifest").write_text(assembly(arch, version))
    (out / "YourProgram.exe.manifest").write_text(application(arch, version))


if __name__ == "__main__":
    main()
