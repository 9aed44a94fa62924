# Host side of the emulated device, sourced by scripts/device-vm.sh and
# scripts/powercut.sh. POSIX sh. Needs what `scripts/install-deps.sh --vm`
# installs; the guest kernels and BusyBox are Debian packages unpacked into
# a cache, never installed.
#
# A guest has three virtio disks, told apart by their serials:
#   system  ext4: the device's "/" with /data, /etc/version.cfg, /opt and a
#           static BusyBox as /bin; /usr and the loaders lead to the host's
#           tree, shared read only over 9p, for korvello's libraries
#   usb     FAT32, mounted at /mnt/usb/sda1
#   sdcard  FAT32, mounted at /mnt/sdcard/mmcblk1p1
# The host reads every outcome from the images after the guest has ended.

VM_HERE=$(cd "$(dirname "$0")/.." && pwd)
VM_CACHE=${VM_CACHE:-$VM_HERE/out/device-vm}
export MTOOLS_SKIP_CHECK=1

vm_die() {
    echo "device-vm: $*" >&2
    exit 1
}

# Debian names of the architecture and of what the guest needs.
vm_debian_arch() {
    case $1 in
        x86_64) echo amd64 ;;
        aarch64) echo arm64 ;;
        *) vm_die "unknown architecture $1" ;;
    esac
}

# Drivers the guest loads in its initramfs, before its dependencies are
# added. crc32c is asked for by name at mount time, not as a dependency.
vm_modules() {
    common="virtio_blk 9pnet_virtio 9p crc32c_generic ext4 vfat nls_cp437 nls_ascii"
    case $1 in
        x86_64) echo "virtio_pci $common" ;;
        aarch64) echo "virtio_mmio $common" ;;
    esac
}

# Unpacks the newest Debian kernel and busybox-static for the architecture
# into the cache, once.
vm_fetch() {
    arch=$1
    dir=$VM_CACHE/$arch
    [ -f "$dir/ready" ] && return 0
    debian=$(vm_debian_arch "$arch")
    rm -rf "$dir"
    mkdir -p "$dir/debs"
    kernel=$(apt-cache depends "linux-image-$debian:$debian" 2>/dev/null \
        | awk '/Depends: linux-image-/ { print $2; exit }')
    kernel=${kernel%%:*}
    [ -n "$kernel" ] || vm_die "no kernel package for $debian; run scripts/install-deps.sh --vm"
    echo "device-vm: fetching $kernel and busybox-static for $debian"
    (cd "$dir/debs" && apt-get download "$kernel:$debian" "busybox-static:$debian" >/dev/null 2>&1) \
        || vm_die "apt-get download $kernel:$debian busybox-static:$debian failed"
    for deb in "$dir"/debs/*.deb; do
        dpkg -x "$deb" "$dir/root"
    done
    rm -rf "$dir/debs"
    ln -s root/boot/"$(cd "$dir/root/boot" && ls vmlinuz-*)" "$dir/vmlinuz"
    ln -s root/bin/busybox "$dir/busybox"
    touch "$dir/ready"
}

# The modules to load, each after the ones it depends on. Debian's package
# ships no modules.dep, so the dependencies are read from each module's
# .modinfo strings: first every module reached, then awk orders them.
vm_module_order() {
    tree=$(echo "$VM_CACHE/$1"/root/lib/modules/*)
    wanted=$(vm_modules "$1")
    todo=$wanted
    table=
    while [ -n "$todo" ]; do
        set -- $todo
        name=$1
        shift
        todo=$*
        case " $table " in *" =$name "*) continue ;; esac
        pattern=$(echo "$name" | sed 's/[-_]/[-_]/g')
        file=$(find "$tree/kernel" -name "$pattern.ko" | head -n 1)
        depends=
        [ -z "$file" ] || depends=$(tr '\0' '\n' < "$file" | sed -n 's/^depends=//p' | tr ',' ' ')
        # "=name file dependencies;" per module; no file: built into the kernel.
        table="$table =$name ${file#"$tree"/kernel/} $depends ;"
        todo="$todo $depends"
    done
    echo "$table" | tr ';' '\n' | awk -v wanted="$wanted" '
        NF { name = substr($1, 2); file[name] = $2; deps[name] = ""
             for (i = 3; i <= NF; i++) deps[name] = deps[name] " " $i }
        function visit(name,   list, n, i) {
            if (name in done) return
            done[name] = 1
            n = split(deps[name], list, " ")
            for (i = 1; i <= n; i++) visit(list[i])
            if (file[name] ~ /\.ko$/) print file[name]
        }
        END { n = split(wanted, list, " "); for (i = 1; i <= n; i++) visit(list[i]) }'
}

# The initramfs: BusyBox, the init of device-vm/ and the modules.
vm_initrd() {
    arch=$1
    out=$VM_CACHE/$arch/initrd.gz
    if [ -f "$out" ] && [ -z "$(find "$VM_HERE/device-vm/init" -newer "$out")" ]; then
        return 0
    fi
    work=$(mktemp -d)
    mkdir -p "$work/bin" "$work/modules" "$work/proc" "$work/sys" "$work/dev" "$work/newroot"
    cp "$VM_CACHE/$arch/busybox" "$work/bin/busybox"
    for applet in sh mount umount insmod switch_root poweroff cat echo; do
        ln -s busybox "$work/bin/$applet"
    done
    cp "$VM_HERE/device-vm/init" "$work/init"
    tree=$(echo "$VM_CACHE/$arch"/root/lib/modules/*)
    vm_module_order "$arch" | while read -r module; do
        cp "$tree/kernel/$module" "$work/modules/"
        echo "${module##*/}" >> "$work/modules/order"
    done
    (cd "$work" && find . | busybox cpio -o -H newc 2>/dev/null | gzip -1) > "$out.tmp"
    mv "$out.tmp" "$out"
    rm -rf "$work"
}

# vm_system_image IMAGE ARCH KORVELLO DATA VERSION [OPT]
# The device's "/": BusyBox as /bin and /sbin, korvello in /bin, the data
# folder copied from DATA, the version file's first line VERSION, and /opt
# copied from OPT (empty without).
vm_system_image() {
    image=$1 arch=$2 korvello=$3 data=$4 version=$5 opt=${6:-}
    work=$(mktemp -d)
    mkdir -p "$work/bin" "$work/etc/init.d" "$work/opt" "$work/root" "$work/proc" \
        "$work/sys" "$work/dev" "$work/tmp" "$work/host" "$work/mnt/usb/sda1" \
        "$work/mnt/sdcard/mmcblk1p1"
    # The applets' links are made by the guest's own BusyBox at boot.
    cp "$VM_CACHE/$arch/busybox" "$work/bin/busybox"
    ln -s busybox "$work/bin/sh"
    ln -s bin "$work/sbin"
    cp "$korvello" "$work/bin/korvello"
    # The host's tree provides the C library, Qt and the fonts.
    for link in usr lib lib64; do
        ln -s "/host/$link" "$work/$link"
    done
    mkdir -p "$work/var/cache"
    ln -s /host/var/cache/fontconfig "$work/var/cache/fontconfig"
    ln -s /host/etc/fonts "$work/etc/fonts"
    ln -s /host/etc/ld.so.cache "$work/etc/ld.so.cache"
    cp "$VM_HERE/device-vm/inittab" "$work/etc/inittab"
    for file in rcS start-korvello shutdown; do
        cp "$VM_HERE/device-vm/$file" "$work/etc/init.d/$file"
    done
    echo 'root:x:0:0:root:/root:/bin/sh' > "$work/etc/passwd"
    printf '%s\nbuild 17\n' "$version" > "$work/etc/version.cfg"
    cp -a "$data" "$work/data"
    [ -z "$opt" ] || cp -a "$opt/." "$work/opt/"
    rm -f "$image"
    # One inode per 4 KiB: room for data folders of many small files.
    mkfs.ext4 -q -F -L system -i 4096 -d "$work" "$image" 256M >/dev/null \
        || vm_die "mkfs.ext4 failed"
    rm -rf "$work"
}

# vm_medium_image IMAGE SIZE_MIB [FOLDER]: a FAT32 file system over the
# whole disk, as a stick formatted without partitions, holding FOLDER's
# contents.
vm_medium_image() {
    rm -f "$1"
    mkfs.vfat -F 32 -n MEDIUM -C "$1" $(($2 * 1024)) >/dev/null || vm_die "mkfs.vfat failed"
    if [ -n "${3:-}" ] && [ -n "$(ls -A "$3")" ]; then
        mcopy -s -i "$1" "$3"/* ::/ || vm_die "mcopy into $1 failed"
    fi
}

# vm_boot ARCH SYSTEM USB SDCARD LOG ARGS...: boots a guest in the
# background and prints QEMU's process id. ARGS go on the kernel command
# line: device_vm.control=N device_vm.device=N device_vm.snum=S ...
vm_boot() {
    arch=$1 system=$2 usb=$3 sdcard=$4 log=$5
    shift 5
    args="device_vm.clock=$(date +%s) device_vm.platform=${VM_PLATFORM:-offscreen} $*"
    set --
    case $arch in
        x86_64)
            set -- qemu-system-x86_64 -machine q35,accel=tcg -cpu max -m 768 \
                -append "console=ttyS0 quiet loglevel=3 $args"
            bus=pci
            ;;
        aarch64)
            set -- qemu-system-aarch64 -machine virt,accel=tcg -cpu cortex-a53 -m 1024 \
                -append "console=ttyAMA0 quiet loglevel=3 $args"
            bus=device
            ;;
    esac
    for disk in system:"$system" usb:"$usb" sdcard:"$sdcard"; do
        [ -n "${disk#*:}" ] || continue
        set -- "$@" -drive "if=none,id=${disk%%:*},format=raw,file=${disk#*:}" \
            -device "virtio-blk-$bus,drive=${disk%%:*},serial=${disk%%:*}"
    done
    set -- "$@" -kernel "$VM_CACHE/$arch/vmlinuz" -initrd "$VM_CACHE/$arch/initrd.gz" \
        -fsdev local,id=host,path=/,security_model=none,readonly=on \
        -device "virtio-9p-$bus,fsdev=host,mount_tag=host" \
        -display none -no-reboot -nodefaults -serial "file:$log"
    "$@" > "$log.qemu" 2>&1 &
    echo $!
}

# vm_wait PID SECONDS: waits for a guest to end by itself; kills it and
# fails when it takes longer.
vm_wait() {
    waited=0
    while kill -0 "$1" 2>/dev/null; do
        if [ "$waited" -ge "$2" ]; then
            kill -9 "$1" 2>/dev/null
            wait "$1" 2>/dev/null
            return 1
        fi
        sleep 1
        waited=$((waited + 1))
    done
    wait "$1" 2>/dev/null
    return 0
}

# vm_power_cut PID: the virtual power goes: QEMU ends at once, and what the
# guest's page cache held never reaches its disks.
vm_power_cut() {
    kill -9 "$1" 2>/dev/null
    wait "$1" 2>/dev/null
}

# vm_system_dump IMAGE DEST: the system disk's /data and /etc as a power-on
# would find them (the journal replayed), copied to DEST.
vm_system_dump() {
    e2fsck -E journal_only -p "$1" >/dev/null 2>&1
    rm -rf "$2"
    mkdir -p "$2"
    debugfs -R "rdump /data /etc /opt $2" "$1" >/dev/null 2>&1
    debugfs -R "ls -l /" "$1" 2>/dev/null | awk 'NF { print $NF }' > "$2/root-entries"
}

# vm_medium_dump IMAGE DEST: the medium's run/ folder copied to DEST.
vm_medium_dump() {
    rm -rf "$2"
    mkdir -p "$2"
    mcopy -s -n -i "$1" ::/run "$2/" 2>/dev/null || true
}
