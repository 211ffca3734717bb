"""The files of the shared objects the loader has mapped into this process,
as it reports them (dl_iterate_phdr): qemu-user shows an emulated program
an empty /proc/self/maps."""

import ctypes


class _Info(ctypes.Structure):
    _fields_ = [("addr", ctypes.c_void_p), ("name", ctypes.c_char_p)]


_CALLBACK = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(_Info), ctypes.c_size_t, ctypes.c_void_p)


def mapped():
    names = set()

    def add(info, size, data):
        if info.contents.name:
            names.add(info.contents.name.decode())
        return 0

    ctypes.CDLL(None).dl_iterate_phdr(_CALLBACK(add), None)
    return names
