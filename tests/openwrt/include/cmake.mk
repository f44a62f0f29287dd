# OpenWrt's cmake.mk: the install recipe needs nothing of it.
