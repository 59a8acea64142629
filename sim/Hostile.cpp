#include "sim/Hostile.h"

#include <algorithm>

namespace sim {

using namespace kz::wire;

namespace {

constexpr int kMacroblock = 16;
constexpr int kCropUnit = 2; // 4:2:0, frame pictures: crops count in pairs of lines and columns

// NAL unit headers: nal_ref_idc 3 with the unit's type.
constexpr std::uint8_t kNalSps = 0x67;
constexpr std::uint8_t kNalPps = 0x68;
constexpr std::uint8_t kNalIdr = 0x65;

// Sequence parameter set values.
constexpr unsigned kProfileBaseline = 66;
constexpr unsigned kConstraintSet01 = 0xC0;
constexpr unsigned kLevel51 = 51;
constexpr unsigned kPocTypeNone = 2; // picture order from frame numbers: no fields in the slice
constexpr int kLog2MaxFrameNum = 4;  // log2_max_frame_num_minus4 = 0

// The slice: every macroblock of an I slice, all intra.
constexpr unsigned kSliceTypeAllI = 7;
constexpr unsigned kNoDeblocking = 1;
// One macroblock of flat grey: mb_type 3 (Intra 16x16, DC prediction, no
// coded blocks) "00100", chroma DC prediction "1", qp delta 0 "1", and an
// empty luma DC block "1": eight bits that never hold more than two zero
// bits in a row, at any alignment.
constexpr std::uint8_t kGreyMacroblock = 0x27;

class BitWriter {
public:
    void u(unsigned bits, std::uint32_t value)
    {
        for (int i = static_cast<int>(bits) - 1; i >= 0; --i)
            bit((value >> i) & 1u);
    }
    void ue(std::uint32_t value)
    {
        std::uint64_t v = static_cast<std::uint64_t>(value) + 1;
        int length = 0;
        while ((v >> length) > 1)
            ++length;
        u(static_cast<unsigned>(length), 0);
        for (int i = length; i >= 0; --i)
            bit(static_cast<unsigned>((v >> i) & 1u));
    }
    void se(std::int32_t value) { ue(value > 0 ? 2u * static_cast<std::uint32_t>(value) - 1 : 2u * static_cast<std::uint32_t>(-static_cast<std::int64_t>(value))); }
    // rbsp_stop_one_bit and the zero bits to the byte's end.
    void Trailing()
    {
        bit(1);
        while (m_used)
            bit(0);
    }
    std::vector<std::uint8_t>& Bytes() { return m_bytes; }

private:
    void bit(unsigned b)
    {
        if (m_used == 0)
            m_bytes.push_back(0);
        if (b)
            m_bytes.back() |= static_cast<std::uint8_t>(0x80u >> m_used);
        m_used = (m_used + 1) % 8;
    }
    std::vector<std::uint8_t> m_bytes;
    unsigned m_used = 0; // bits used of the last byte
};

// Appends a start code, the NAL header and the payload with emulation
// prevention bytes.
void appendNal(std::vector<std::uint8_t>& out, std::uint8_t header, const std::vector<std::uint8_t>& rbsp)
{
    out.insert(out.end(), { 0, 0, 0, 1, header });
    int zeros = 0;
    for (std::uint8_t b : rbsp) {
        if (zeros >= 2 && b <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        out.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
}

std::vector<std::uint8_t> sequenceSet(PictureSize size, std::uint32_t mbWidth, std::uint32_t mbHeight)
{
    BitWriter w;
    w.u(8, kProfileBaseline);
    w.u(8, kConstraintSet01);
    w.u(8, kLevel51);
    w.ue(0);            // seq_parameter_set_id
    w.ue(0);            // log2_max_frame_num_minus4
    w.ue(kPocTypeNone); // pic_order_cnt_type
    w.ue(1);            // max_num_ref_frames
    w.u(1, 0);          // gaps_in_frame_num_value_allowed_flag
    w.ue(mbWidth - 1);  // pic_width_in_mbs_minus1
    w.ue(mbHeight - 1); // pic_height_in_map_units_minus1
    w.u(1, 1);          // frame_mbs_only_flag
    w.u(1, 1);          // direct_8x8_inference_flag
    std::uint32_t cropRight = (mbWidth * kMacroblock - static_cast<std::uint32_t>(size.width)) / kCropUnit;
    std::uint32_t cropBottom = (mbHeight * kMacroblock - static_cast<std::uint32_t>(size.height)) / kCropUnit;
    bool crop = cropRight || cropBottom;
    w.u(1, crop);       // frame_cropping_flag
    if (crop) {
        w.ue(0);          // frame_crop_left_offset
        w.ue(cropRight);  // frame_crop_right_offset
        w.ue(0);          // frame_crop_top_offset
        w.ue(cropBottom); // frame_crop_bottom_offset
    }
    w.u(1, 0);          // vui_parameters_present_flag
    w.Trailing();
    return std::move(w.Bytes());
}

std::vector<std::uint8_t> pictureSet()
{
    BitWriter w;
    w.ue(0);   // pic_parameter_set_id
    w.ue(0);   // seq_parameter_set_id
    w.u(1, 0); // entropy_coding_mode_flag: CAVLC
    w.u(1, 0); // bottom_field_pic_order_in_frame_present_flag
    w.ue(0);   // num_slice_groups_minus1
    w.ue(0);   // num_ref_idx_l0_default_active_minus1
    w.ue(0);   // num_ref_idx_l1_default_active_minus1
    w.u(1, 0); // weighted_pred_flag
    w.u(2, 0); // weighted_bipred_idc
    w.se(0);   // pic_init_qp_minus26
    w.se(0);   // pic_init_qs_minus26
    w.se(0);   // chroma_qp_index_offset
    w.u(1, 1); // deblocking_filter_control_present_flag
    w.u(1, 0); // constrained_intra_pred_flag
    w.u(1, 0); // redundant_pic_cnt_present_flag
    w.Trailing();
    return std::move(w.Bytes());
}

std::vector<std::uint8_t> greySlice(std::uint64_t macroblocks)
{
    BitWriter w;
    w.ue(0);                   // first_mb_in_slice
    w.ue(kSliceTypeAllI);      // slice_type
    w.ue(0);                   // pic_parameter_set_id
    w.u(kLog2MaxFrameNum, 0);  // frame_num
    w.ue(0);                   // idr_pic_id
    w.u(1, 0);                 // no_output_of_prior_pics_flag
    w.u(1, 0);                 // long_term_reference_flag
    w.se(0);                   // slice_qp_delta
    w.ue(kNoDeblocking);       // disable_deblocking_filter_idc
    for (std::uint64_t i = 0; i < macroblocks; ++i)
        w.u(8, kGreyMacroblock);
    w.Trailing();
    return std::move(w.Bytes());
}

}

std::vector<std::uint8_t> SizeClaimFrame(PictureSize size, ClaimContent content)
{
    if (size.width < kCropUnit || size.height < kCropUnit || size.width > kMaxClaimSide || size.height > kMaxClaimSide
        || size.width % kCropUnit || size.height % kCropUnit)
        return {};
    std::uint32_t mbWidth = static_cast<std::uint32_t>((size.width + kMacroblock - 1) / kMacroblock);
    std::uint32_t mbHeight = static_cast<std::uint32_t>((size.height + kMacroblock - 1) / kMacroblock);
    std::uint64_t macroblocks = static_cast<std::uint64_t>(mbWidth) * mbHeight;
    if (content == ClaimContent::Picture && macroblocks + kFrameHeaderBytes + 64 > kMaxPayload)
        return {};
    std::vector<std::uint8_t> frame;
    appendNal(frame, kNalSps, sequenceSet(size, mbWidth, mbHeight));
    appendNal(frame, kNalPps, pictureSet());
    if (content == ClaimContent::Picture)
        appendNal(frame, kNalIdr, greySlice(macroblocks));
    return frame;
}

std::vector<std::uint8_t> TruncatedMessage(Kind kind, const std::vector<std::uint8_t>& payload, std::size_t keep)
{
    std::vector<std::uint8_t> out;
    PutHeader(out, kind, static_cast<std::uint32_t>(payload.size()));
    out.insert(out.end(), payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(std::min(keep, payload.size())));
    return out;
}

std::vector<std::uint8_t> OversizedMessage(Kind kind, std::uint32_t length, std::size_t sent)
{
    std::vector<std::uint8_t> out;
    PutHeader(out, kind, length);
    out.insert(out.end(), sent, 0x5A);
    return out;
}

}
