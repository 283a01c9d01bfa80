"""Locks or unlocks the login keyring of the running gnome-keyring, as a writer's session would:
keyring_control.py lock | keyring_control.py unlock PASSWORD (unlocking without a prompt)."""
import sys

import dbus

bus = dbus.SessionBus()
service = bus.get_object("org.freedesktop.secrets", "/org/freedesktop/secrets")
collection = "/org/freedesktop/secrets/collection/login"
if sys.argv[1] == "lock":
    dbus.Interface(service, "org.freedesktop.Secret.Service").Lock([collection])
else:
    _, session = dbus.Interface(service, "org.freedesktop.Secret.Service").OpenSession(
        "plain", dbus.String("", variant_level=1))
    internal = dbus.Interface(
        service, "org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface")
    internal.UnlockWithMasterPassword(
        collection, (session, dbus.ByteArray(b""), dbus.ByteArray(sys.argv[2].encode()),
                     "text/plain"))
