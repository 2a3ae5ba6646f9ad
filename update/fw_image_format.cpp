// Decoding of the firmware image bytes. No I/O here: the loader and the image tool share it.
#include <cstring>

#include "update/fw_image.h"

namespace norvane {

bool _decode_fw_image(const std::uint8_t* bytes, std::size_t size, FwImage& image) {
    if (bytes == nullptr || size < kImageFileSize) {
        return false; // a short image is never programmed with filler bytes
    }
    image.product_id =
        static_cast<std::uint16_t>((bytes[kHeaderProductIdHigh] << 8) | bytes[kHeaderProductIdLow]);
    image.new_version.major = bytes[kHeaderVersionMajor];
    image.new_version.minor = bytes[kHeaderVersionMinor];
    image.config_version = bytes[kHeaderConfigVersion];
    std::memcpy(image.system_block, bytes + kSystemBlockOffset, kSystemBlockSize);
    std::memcpy(image.information_block, bytes + kInformationBlockOffset, kInformationBlockSize);
    std::memcpy(image.main_image, bytes + kMainImageOffset, kMainImageSize);
    return true;
}

} // namespace norvane
