# OpenWrt's package.mk, as far as a test installs a package into a firmware
# image: `make install ROOTFS=DIR PKG_INSTALL_DIR=STAGE` runs the package's
# install recipe into DIR.
define BuildPackage
install:
	$$(call Package/$(1)/install,$$(ROOTFS))
endef
