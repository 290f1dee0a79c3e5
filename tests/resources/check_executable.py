#!/usr/bin/python3
"""Checks what the built executable carries: every resource (type, name, language), the icon,
both manifests, the dialog template, its size, every function it imports,
and the hardening its header declares.

Usage: check_executable.py PROGRAM.exe   (needs Debian's python3-pefile)
"""
import struct
import sys
import unittest
import xml.etree.ElementTree as ET

import pefile

EXE = None
RT_ICON, RT_DIALOG, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 5, 14, 16, 24
NEUTRAL, EN_US = 0, 1033
MAX_SIZE = 32 * 1024

# The DLLs the executable may import, loaded before its entry runs. Windows looks for any other
# in the program's own folder first, so only its known DLLs qualify, and COMCTL32, which the
# manifest binds side by side. winmm is loaded from the system folder at run time.
SAFE_DLLS = {'kernel32.dll', 'user32.dll', 'gdi32.dll', 'msvcrt.dll', 'ole32.dll',
             'advapi32.dll', 'comctl32.dll'}

# Every function the executable may import. A new import means new code in the program or a
# library pulled in by accident (a threading or formatting library, say): both want a look.
ALLOWED_IMPORTS = {
    # The program's own calls.
    'user32.dll': {'DialogBoxParamW', 'EndDialog', 'GetDlgItem', 'SetDlgItemTextW',
                   'GetWindowTextLengthW', 'GetWindowTextW', 'EnableWindow', 'SetFocus',
                   'SendMessageW', 'LoadIconW', 'MessageBoxW',
                   # The texts readable on any system: the dialog's font asked, the message
                   # font given to the controls.
                   'GetDC', 'ReleaseDC', 'SystemParametersInfoW', 'SendDlgItemMessageW'},
    'gdi32.dll': {'GetStockObject', 'SelectObject', 'CreateFontIndirectW', 'DeleteObject',
                  'GetObjectW',  # the template font's size, for a Japanese font
                  # Whether a font draws the texts, asked by drawing them in a bitmap.
                  'CreateCompatibleDC', 'CreateDIBSection', 'TextOutW', 'GdiFlush', 'DeleteDC'},
    'comctl32.dll': {'InitCommonControls'},
    'ole32.dll': {'CoInitializeEx',
                  'CoCreateInstance'},  # the annotation service that names the fields
    'kernel32.dll': {
        'Sleep', 'WaitForSingleObject', 'CloseHandle',
        'SwitchToThread',                                          # the timer gate's wait
        'GetModuleHandleW', 'GetProcAddress', 'GetCurrentProcess',  # power-throttling opt-out
        'SetDllDirectoryW',                     # the DLL search, where the system is too old
        'GetSystemDirectoryW', 'LoadLibraryW', 'lstrcpyW',  # winmm from the system folder
        # The C runtime's start-up: TLS, pseudo-relocations, the unhandled-exception hook.
        'DeleteCriticalSection', 'EnterCriticalSection', 'InitializeCriticalSection',
        'LeaveCriticalSection', 'TlsGetValue', 'VirtualProtect', 'VirtualQuery',
        'SetUnhandledExceptionFilter', 'GetStartupInfoW', 'GetLastError',
        'GetModuleHandleA', 'LoadLibraryA', 'FreeLibrary'},
    'msvcrt.dll': {
        '_beginthreadex', '_endthreadex', 'malloc', 'free',
        '_snwprintf',  # the warnings' bounded formatting
        'wcslen',  # a fixed warning measured before it is copied
        'memcmp', 'memset',  # a font's drawing compared with its box
        # The C runtime's start-up and its error reports.
        '__p__commode', '__p__fmode', '__p__wcmdln', '__set_app_type', '__setusermatherr',
        '__wgetmainargs', '__winitenv', '_amsg_exit', '_cexit', '_initterm', '_iob', '_onexit',
        'abort', 'calloc', 'exit', 'fprintf', 'fwrite', 'memcpy', 'signal', 'strlen',
        'strncmp', 'vfprintf',
        '_open', '_write', '_close', '_exit'},  # the stack protector's report of a smashed stack
    # The stack protector's random guard.
    'advapi32.dll': {'CryptAcquireContextA', 'CryptGenRandom', 'CryptReleaseContext'},
}

IMAGE_DLLCHARACTERISTICS = {
    'DYNAMIC_BASE': 0x0040,  # ASLR
    'NX_COMPAT': 0x0100,  # DEP
    'NO_SEH': 0x0400,  # registers no structured exception handlers, so none can be forged
    'TERMINAL_SERVER_AWARE': 0x8000,
}
IMAGE_SCN_MEM_EXECUTE, IMAGE_SCN_MEM_WRITE = 0x20000000, 0x80000000


def load():
    pe = pefile.PE(EXE)
    resources = {}
    for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for name in rtype.directory.entries:
            key = str(name.name) if name.name is not None else name.id
            for lang in name.directory.entries:
                entry = lang.data.struct
                data = pe.get_data(entry.OffsetToData, entry.Size)
                resources[(rtype.id, key, lang.id)] = data
    return pe, resources


class Resources(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe, cls.res = load()

    def test_exactly_the_expected_resources(self):
        self.assertEqual(sorted(self.res.keys(), key=str), sorted([
            (RT_ICON, 1, NEUTRAL),
            (RT_DIALOG, 'IDD_MAINWINDOW', NEUTRAL),
            (RT_GROUP_ICON, 'IDC_ICON', NEUTRAL),
            (RT_VERSION, 1, NEUTRAL),
            (RT_MANIFEST, 1, NEUTRAL),
            (RT_MANIFEST, 1, EN_US),
        ], key=str))

    def test_icon_is_one_32x32_16_colour_image(self):
        group = self.res[(RT_GROUP_ICON, 'IDC_ICON', NEUTRAL)]
        reserved, kind, count = struct.unpack_from('<HHH', group)
        self.assertEqual((reserved, kind, count), (0, 1, 1))
        w, h, colours, _, planes, bits, size, icon_id = struct.unpack_from('<BBBBHHIH', group, 6)
        self.assertEqual((w, h, colours, planes, bits, icon_id), (32, 32, 16, 1, 4, 1))
        image = self.res[(RT_ICON, 1, NEUTRAL)]
        self.assertEqual(size, len(image))
        hdr, iw, ih, iplanes, ibits = struct.unpack_from('<IiiHH', image)
        self.assertEqual((hdr, iw, ih, iplanes, ibits), (40, 32, 64, 1, 4))

    def manifest(self, lang):
        text = self.res[(RT_MANIFEST, 1, lang)].decode('utf-8')
        return ET.fromstring(text)

    def test_manifests(self):
        ns = {'v1': 'urn:schemas-microsoft-com:asm.v1', 'v3': 'urn:schemas-microsoft-com:asm.v3'}
        for lang in (NEUTRAL, EN_US):
            with self.subTest(lang=lang):
                root = self.manifest(lang)
                children = [c.tag.split('}')[1] for c in root]
                self.assertEqual(children[:3], ['assemblyIdentity', 'description', 'dependency'])
                ident = root.find('v1:assemblyIdentity', ns)
                self.assertEqual(ident.get('version'), '2.0.0.0')
                self.assertEqual(ident.get('processorArchitecture'), '*')
                self.assertIsNone(ident.get('type'))
                self.assertTrue(ident.get('name'))
                self.assertTrue(root.find('v1:description', ns).text)
                dep = root.find('v1:dependency/v1:dependentAssembly/v1:assemblyIdentity', ns)
                self.assertEqual(dict(dep.attrib), {
                    'type': 'win32', 'name': 'Microsoft.Windows.Common-Controls',
                    'version': '6.0.0.0', 'processorArchitecture': '*',
                    'publicKeyToken': '6595b64144ccf1df', 'language': '*'})
                level = root.find('.//v3:requestedExecutionLevel', ns)
                if lang == NEUTRAL:
                    self.assertIsNone(root.find('v3:trustInfo', ns))
                else:
                    self.assertEqual(level.get('level'), 'asInvoker')
                    self.assertEqual(level.get('uiAccess'), 'false')

    def test_dialog_template(self):
        data = self.res[(RT_DIALOG, 'IDD_MAINWINDOW', NEUTRAL)]
        ver, sig, helpid, exstyle, style, count, x, y, cx, cy = struct.unpack_from(
            '<HHIIIHhhhh', data)
        self.assertEqual((ver, sig, helpid, exstyle), (1, 0xFFFF, 0, 0))
        WS_POPUP, WS_VISIBLE, WS_CAPTION, WS_SYSMENU = 0x80000000, 0x10000000, 0xC00000, 0x80000
        DS_SETFONT, DS_CENTER = 0x40, 0x800
        self.assertEqual(style, WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_SETFONT |
                         DS_CENTER)
        self.assertEqual((count, x, y, cx, cy), (7, 0, 0, 140, 60))
        pos = 26

        def sz_or_ord(pos):
            if struct.unpack_from('<H', data, pos)[0] == 0xFFFF:
                return struct.unpack_from('<H', data, pos + 2)[0], pos + 4
            end = pos
            while struct.unpack_from('<H', data, end)[0] != 0:
                end += 2
            return data[pos:end].decode('utf-16-le'), end + 2

        menu, pos = sz_or_ord(pos)
        cls, pos = sz_or_ord(pos)
        caption, pos = sz_or_ord(pos)
        self.assertEqual((menu, cls), ('', ''))
        self.assertTrue(caption.startswith('ぱたぽこりん - ') and len(caption) > 9, caption)
        point, weight, italic, charset = struct.unpack_from('<HHBB', data, pos)
        self.assertEqual((point, weight, italic, charset), (9, 0, 0, 1))
        face, pos = sz_or_ord(pos + 6)
        self.assertEqual(face, 'System')
        CHILD_VIS = 0x50000000
        TAB, GROUP, BORDER = 0x10000, 0x20000, 0x800000
        edit = CHILD_VIS | BORDER | TAB | 0x80  # ES_AUTOHSCROLL
        expected = [
            (1, 0x80, '開始', (45, 40, 50, 14), CHILD_VIS | TAB | 0x1),  # BS_DEFPUSHBUTTON
            (1001, 0x81, '', (45, 4, 25, 12), edit),
            (1002, 0x81, '', (81, 4, 25, 12), edit),
            (1000, 0x81, '', (45, 22, 25, 12), edit),
            (2000, 0x82, 'BPM', (23, 24, 15, 12), CHILD_VIS | GROUP),  # SS_LEFT
            (2001, 0x82, '拍子', (23, 6, 20, 12), CHILD_VIS | GROUP),
            (2002, 0x82, '/', (71, 6, 8, 12), CHILD_VIS | GROUP | 0x1),  # SS_CENTER
        ]
        for want in expected:
            pos = (pos + 3) & ~3
            helpid, exstyle, style, x, y, cx, cy, cid = struct.unpack_from('<IIIhhhhI', data, pos)
            ctl_class, pos = sz_or_ord(pos + 24)
            text, pos = sz_or_ord(pos)
            extra = struct.unpack_from('<H', data, pos)[0]
            pos += 2 + extra
            with self.subTest(control=want[0]):
                self.assertEqual((cid, ctl_class, text, (x, y, cx, cy), style),
                                 want)
                self.assertEqual((helpid, exstyle), (0, 0))

    def test_imports_only_known_system_dlls(self):
        dlls = {e.dll.decode().lower() for e in self.pe.DIRECTORY_ENTRY_IMPORT}
        self.assertLessEqual(dlls, SAFE_DLLS, 'a DLL Windows would look for beside the program')

    def test_header_declares_the_hardening(self):
        flags = self.pe.OPTIONAL_HEADER.DllCharacteristics
        missing = [name for name, bit in IMAGE_DLLCHARACTERISTICS.items() if not flags & bit]
        self.assertEqual(missing, [], f'DllCharacteristics {flags:#06x}')
        for section in self.pe.sections:
            with self.subTest(section=section.Name.rstrip(b'\0').decode()):
                both = IMAGE_SCN_MEM_EXECUTE | IMAGE_SCN_MEM_WRITE
                self.assertNotEqual(section.Characteristics & both, both, 'writable and executable')

    def test_imports_only_what_the_program_uses(self):
        unexpected = []
        count = 0
        for entry in self.pe.DIRECTORY_ENTRY_IMPORT:
            dll = entry.dll.decode().lower()
            allowed = ALLOWED_IMPORTS.get(dll, set())
            for function in entry.imports:
                count += 1
                name = function.name.decode() if function.name else f'#{function.ordinal}'
                if name not in allowed:
                    unexpected.append(f'{dll}!{name}')
        self.assertEqual(unexpected, [], 'imports outside the allow-list')
        print(f'\n{EXE}: {count} imported functions from '
              f'{", ".join(sorted(e.dll.decode() for e in self.pe.DIRECTORY_ENTRY_IMPORT))}',
              file=sys.stderr)

    def test_small(self):
        size = len(self.pe.__data__)
        self.assertLessEqual(size, MAX_SIZE)
        print(f'\n{EXE}: {size} bytes', file=sys.stderr)


if __name__ == '__main__':
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    EXE = sys.argv.pop(1)
    unittest.main(verbosity=2)
