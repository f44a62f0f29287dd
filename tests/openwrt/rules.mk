# What OpenWrt's rules.mk gives a package's Makefile, as far as the install
# recipe of packaging/openwrt/cfgmigrate uses it.
INCLUDE_DIR:=$(TOPDIR)/include
qstrip=$(strip $(subst ",,$(1)))
CP:=cp -fpR
SED:=sed -i -e
INSTALL_DIR:=install -d -m0755
INSTALL_BIN:=install -m0755
INSTALL_DATA:=install -m0644
