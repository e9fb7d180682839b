#include "platform/display/linux/randr_reader.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string_view>
#include <vector>

#include "platform/display/edid_monitor_name.h"

namespace vistrelle::display {
namespace {

// The base EDID block is all the name needs: 128 bytes, in 32-bit units.
constexpr uint32_t kEdidLongs = 128 / 4;

// The two resource replies share their layout; this is what both give.
struct Resources {
  xcb_timestamp_t configTimestamp = 0;
  std::vector<xcb_randr_crtc_t> crtcs;
  std::vector<xcb_randr_output_t> outputs;
  std::map<uint32_t, DisplayMode> modes;
};

template <class Reply, class Crtcs, class Outputs, class Modes>
Resources resourcesOf(const Reply* reply, Crtcs crtcs, Outputs outputs, Modes modes) {
  Resources resources;
  resources.configTimestamp = reply->config_timestamp;
  const xcb_randr_crtc_t* crtcList = crtcs(reply);
  resources.crtcs.assign(crtcList, crtcList + reply->num_crtcs);
  const xcb_randr_output_t* outputList = outputs(reply);
  resources.outputs.assign(outputList, outputList + reply->num_outputs);
  const xcb_randr_mode_info_t* modeList = modes(reply);
  for (int i = 0; i < reply->num_modes; ++i) {
    resources.modes[modeList[i].id] =
        DisplayMode{modeList[i].id, modeList[i].width, modeList[i].height};
  }
  return resources;
}

DisplayResult<Resources> readResources(XcbConnection& connection, bool probe, Deadline deadline) {
  xcb_connection_t* c = connection.get();
  if (probe) {
    auto reply = connection.reply<xcb_randr_get_screen_resources_reply_t>(
        xcb_randr_get_screen_resources(c, connection.root()).sequence, deadline,
        "GetScreenResources");
    if (!reply) return reply.error();
    return resourcesOf(reply.value().get(), xcb_randr_get_screen_resources_crtcs,
                       xcb_randr_get_screen_resources_outputs,
                       xcb_randr_get_screen_resources_modes);
  }
  auto reply = connection.reply<xcb_randr_get_screen_resources_current_reply_t>(
      xcb_randr_get_screen_resources_current(c, connection.root()).sequence, deadline,
      "GetScreenResourcesCurrent");
  if (!reply) return reply.error();
  return resourcesOf(reply.value().get(), xcb_randr_get_screen_resources_current_crtcs,
                     xcb_randr_get_screen_resources_current_outputs,
                     xcb_randr_get_screen_resources_current_modes);
}

}  // namespace

DisplayResult<RandrState> readRandrState(XcbConnection& connection, bool probe, Deadline deadline) {
  xcb_connection_t* c = connection.get();
  const xcb_query_extension_reply_t* extension = xcb_get_extension_data(c, &xcb_randr_id);
  if (extension == nullptr || !extension->present) {
    if (connection.broken()) {
      return DisplayError{DisplayError::Kind::Lost, "the X server connection is lost"};
    }
    return DisplayError{DisplayError::Kind::Refused, "the X server has no RandR extension"};
  }

  // Everything that needs no answer first goes out at once.
  const auto version = xcb_randr_query_version(c, 1, 5);
  const auto edidAtom = xcb_intern_atom(c, 1, 4, "EDID");
  const auto typeAtom = xcb_intern_atom(c, 1, 13, "ConnectorType");
  const auto primaryCookie = xcb_randr_get_output_primary(c, connection.root());
  const auto rangeCookie = xcb_randr_get_screen_size_range(c, connection.root());
  const auto geometryCookie = xcb_get_geometry(c, connection.root());

  auto versionReply =
      connection.reply<xcb_randr_query_version_reply_t>(version.sequence, deadline, "RandR");
  if (!versionReply) return versionReply.error();
  const auto& v = *versionReply.value();
  if (v.major_version < 1 || (v.major_version == 1 && v.minor_version < 3)) {
    return DisplayError{DisplayError::Kind::Refused, "the X server's RandR is older than 1.3"};
  }
  auto edid = connection.reply<xcb_intern_atom_reply_t>(edidAtom.sequence, deadline, "InternAtom");
  if (!edid) return edid.error();
  auto type = connection.reply<xcb_intern_atom_reply_t>(typeAtom.sequence, deadline, "InternAtom");
  if (!type) return type.error();
  auto primary = connection.reply<xcb_randr_get_output_primary_reply_t>(
      primaryCookie.sequence, deadline, "GetOutputPrimary");
  if (!primary) return primary.error();
  auto range = connection.reply<xcb_randr_get_screen_size_range_reply_t>(
      rangeCookie.sequence, deadline, "GetScreenSizeRange");
  if (!range) return range.error();
  auto geometry =
      connection.reply<xcb_get_geometry_reply_t>(geometryCookie.sequence, deadline, "GetGeometry");
  if (!geometry) return geometry.error();

  auto resourcesResult = readResources(connection, probe, deadline);
  if (!resourcesResult) return resourcesResult.error();
  const Resources& resources = resourcesResult.value();

  RandrState state;
  state.configTimestamp = resources.configTimestamp;
  state.minWidth = range.value()->min_width;
  state.minHeight = range.value()->min_height;
  state.maxWidth = range.value()->max_width;
  state.maxHeight = range.value()->max_height;
  state.layout.primary = primary.value()->output;
  state.layout.screenWidth = geometry.value()->width;
  state.layout.screenHeight = geometry.value()->height;

  struct OutputCookies {
    xcb_randr_get_output_info_cookie_t info;
    xcb_randr_get_output_property_cookie_t edid{0};
    xcb_randr_get_output_property_cookie_t type{0};
  };
  std::vector<OutputCookies> outputCookies;
  for (xcb_randr_output_t output : resources.outputs) {
    OutputCookies cookies{xcb_randr_get_output_info(c, output, resources.configTimestamp)};
    if (edid.value()->atom != XCB_ATOM_NONE) {
      cookies.edid = xcb_randr_get_output_property(c, output, edid.value()->atom, XCB_ATOM_ANY, 0,
                                                   kEdidLongs, 0, 0);
    }
    if (type.value()->atom != XCB_ATOM_NONE) {
      cookies.type =
          xcb_randr_get_output_property(c, output, type.value()->atom, XCB_ATOM_ATOM, 0, 1, 0, 0);
    }
    outputCookies.push_back(cookies);
  }
  std::vector<xcb_randr_get_crtc_info_cookie_t> crtcCookies;
  for (xcb_randr_crtc_t crtc : resources.crtcs) {
    crtcCookies.push_back(xcb_randr_get_crtc_info(c, crtc, resources.configTimestamp));
  }

  std::vector<xcb_atom_t> typeAtoms(resources.outputs.size(), XCB_ATOM_NONE);
  for (size_t i = 0; i < resources.outputs.size(); ++i) {
    auto info = connection.reply<xcb_randr_get_output_info_reply_t>(outputCookies[i].info.sequence,
                                                                    deadline, "GetOutputInfo");
    if (!info) return info.error();
    const xcb_randr_get_output_info_reply_t* reply = info.value().get();
    DisplayOutput output;
    output.id = resources.outputs[i];
    output.outputName.assign(reinterpret_cast<const char*>(xcb_randr_get_output_info_name(reply)),
                             static_cast<size_t>(xcb_randr_get_output_info_name_length(reply)));
    output.connected = reply->connection == XCB_RANDR_CONNECTION_CONNECTED;
    output.crtc = reply->crtc;
    const xcb_randr_mode_t* modeIds = xcb_randr_get_output_info_modes(reply);
    for (int m = 0; m < xcb_randr_get_output_info_modes_length(reply); ++m) {
      auto known = resources.modes.find(modeIds[m]);
      if (known != resources.modes.end()) output.modes.push_back(known->second);
    }
    const xcb_randr_crtc_t* possible = xcb_randr_get_output_info_crtcs(reply);
    output.possibleCrtcs.assign(possible, possible + xcb_randr_get_output_info_crtcs_length(reply));

    if (outputCookies[i].edid.sequence != 0) {
      auto property = connection.reply<xcb_randr_get_output_property_reply_t>(
          outputCookies[i].edid.sequence, deadline, "GetOutputProperty EDID");
      if (!property) return property.error();
      const auto* edidReply = property.value().get();
      if (edidReply->format == 8) {
        const uint8_t* bytes = xcb_randr_get_output_property_data(edidReply);
        const auto length =
            static_cast<size_t>(xcb_randr_get_output_property_data_length(edidReply));
        output.monitorName = edidMonitorName({bytes, length}).value_or("");
      }
    }
    if (outputCookies[i].type.sequence != 0) {
      auto property = connection.reply<xcb_randr_get_output_property_reply_t>(
          outputCookies[i].type.sequence, deadline, "GetOutputProperty ConnectorType");
      if (!property) return property.error();
      const auto* typeReply = property.value().get();
      if (typeReply->format == 32 && typeReply->type == XCB_ATOM_ATOM &&
          xcb_randr_get_output_property_data_length(typeReply) >= 4) {
        std::memcpy(&typeAtoms[i], xcb_randr_get_output_property_data(typeReply), 4);
      }
    }
    state.layout.outputs.push_back(std::move(output));
  }

  for (size_t i = 0; i < resources.crtcs.size(); ++i) {
    auto info = connection.reply<xcb_randr_get_crtc_info_reply_t>(crtcCookies[i].sequence, deadline,
                                                                  "GetCrtcInfo");
    if (!info) return info.error();
    const xcb_randr_get_crtc_info_reply_t* reply = info.value().get();
    DisplayCrtc crtc;
    crtc.id = resources.crtcs[i];
    crtc.modeId = reply->mode;
    crtc.x = reply->x;
    crtc.y = reply->y;
    crtc.width = reply->width;
    crtc.height = reply->height;
    const xcb_randr_output_t* outputs = xcb_randr_get_crtc_info_outputs(reply);
    crtc.outputs.assign(outputs, outputs + xcb_randr_get_crtc_info_outputs_length(reply));
    crtc.rotation = reply->rotation;
    state.layout.crtcs.push_back(std::move(crtc));
  }

  for (DisplayOutput& output : state.layout.outputs) {
    const DisplayCrtc* crtc = output.crtc != 0 ? state.layout.findCrtc(output.crtc) : nullptr;
    if (crtc == nullptr || crtc->modeId == 0) {
      output.crtc = 0;
      continue;
    }
    output.modeId = crtc->modeId;
    output.x = crtc->x;
    output.y = crtc->y;
    output.width = crtc->width;
    output.height = crtc->height;
  }

  // ConnectorType values are atoms: their names take one more round trip.
  std::map<xcb_atom_t, xcb_get_atom_name_cookie_t> nameCookies;
  for (xcb_atom_t atom : typeAtoms) {
    if (atom != XCB_ATOM_NONE && !nameCookies.contains(atom)) {
      nameCookies[atom] = xcb_get_atom_name(c, atom);
    }
  }
  std::map<xcb_atom_t, std::string> names;
  for (const auto& [atom, cookie] : nameCookies) {
    auto name =
        connection.reply<xcb_get_atom_name_reply_t>(cookie.sequence, deadline, "GetAtomName");
    if (!name) return name.error();
    names[atom].assign(xcb_get_atom_name_name(name.value().get()),
                       static_cast<size_t>(xcb_get_atom_name_name_length(name.value().get())));
  }
  for (size_t i = 0; i < typeAtoms.size(); ++i) {
    if (typeAtoms[i] != XCB_ATOM_NONE) state.layout.outputs[i].connectorType = names[typeAtoms[i]];
  }
  return state;
}

}  // namespace vistrelle::display
