// Parsing configuration data with libxml2 into our own node tree.
#include "config/XmlAccess.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <map>
#include <string>

namespace
{
// A configuration names a handful of images and items. Documents far beyond that are refused
// early, before libxml2's tree and ours exhaust memory.
constexpr long kMaximumElementCount = 100000;
// Characters that declared entities may add to a document in all, nested references counted.
// This bounds expansion attacks that stay under libxml2's own checks but still cost minutes.
constexpr size_t kMaximumEntityExpansion = 1 << 20;
constexpr int kMaximumEntityDepth = 40;

// One parse, shared with the contexts libxml2 makes for entity contents (they copy _private).
// The first problem is the one reported: libxml2's later errors are mostly consequences of it.
struct CParseState
{
    xmlParserCtxtPtr context = nullptr; // the document's own context, for the current line
    long elementCount = 0;
    size_t entityExpansion = 0;
    std::map<xmlEntityPtr, size_t> entitySizes;
    bool found = false;
    int line = -1;
    std::string description;
};

CParseState* GetParseState(void* userData)
{
    return static_cast<CParseState*>(static_cast<xmlParserCtxtPtr>(userData)->_private);
}

void NoteProblem(CParseState* state, int line, char const* message)
{
    if (state->found)
        return;
    state->found = true;
    state->line = line;
    std::string text = message ? message : "";
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    std::string ascii;
    if (!text.empty() && StringGetValue(&text, &ascii))
        state->description = ascii;
}

// Ends the parse with our own description, at the document's current line (entity contents
// are parsed in contexts of their own, whose lines mean nothing to the reader).
void StopParse(CParseState* state, xmlParserCtxtPtr context, std::string const& message)
{
    NoteProblem(state, state->context->input ? state->context->input->line : -1, message.c_str());
    xmlStopParser(context);
    if (context != state->context)
        xmlStopParser(state->context);
}

void NoteParserError(void* userData, xmlErrorPtr error)
{
    if (userData && error && error->level >= XML_ERR_ERROR)
        NoteProblem(GetParseState(userData), error->line, error->message);
}

// Configuration files stand alone: no external entity, parameter entity or DTD is ever loaded,
// neither from the network nor from the local disk. Asking for one stops the parse.
xmlParserInputPtr RefuseExternalEntity(char const* url, char const*, xmlParserCtxtPtr context)
{
    if (context && context->_private)
        StopParse(GetParseState(context), context,
                  std::string("failed to load external entity \"") + (url ? url : "") + "\"");
    return nullptr;
}

// Counts elements as libxml2 builds them and stops the parse once there are too many.
void CountElement(void* userData, xmlChar const* localName, xmlChar const* prefix, xmlChar const* uri,
                  int namespaceCount, xmlChar const** namespaces, int attributeCount, int defaultedCount,
                  xmlChar const** attributes)
{
    CParseState* state = GetParseState(userData);
    if (++state->elementCount > kMaximumElementCount)
    {
        StopParse(state, static_cast<xmlParserCtxtPtr>(userData),
                  "Document has more than " + std::to_string(kMaximumElementCount) + " elements");
        return;
    }
    xmlSAX2StartElementNs(userData, localName, prefix, uri, namespaceCount, namespaces, attributeCount,
                          defaultedCount, attributes);
}

// Characters an entity stands for with every entity inside it replaced, at most just over the
// limit. An entity met again while it is being measured (a loop) counts as over the limit.
size_t MeasureEntity(CParseState* state, xmlEntityPtr entity, int depth)
{
    if (!entity || !entity->content)
        return 0;
    auto known = state->entitySizes.find(entity);
    if (known != state->entitySizes.end())
        return known->second;
    if (depth > kMaximumEntityDepth)
        return kMaximumEntityExpansion + 1;
    state->entitySizes[entity] = kMaximumEntityExpansion + 1;
    size_t size = 0;
    for (xmlChar const* cursor = entity->content; *cursor && size <= kMaximumEntityExpansion;)
    {
        xmlChar const* end = cursor[0] == '&' && cursor[1] != '#' ? xmlStrchr(cursor, ';') : nullptr;
        if (!end)
        {
            ++size;
            ++cursor;
            continue;
        }
        std::string name(reinterpret_cast<char const*>(cursor + 1), end - cursor - 1);
        xmlEntityPtr inner = xmlGetDocEntity(entity->doc, reinterpret_cast<xmlChar const*>(name.c_str()));
        size += inner ? MeasureEntity(state, inner, depth + 1) : end - cursor + 1;
        cursor = end + 1;
    }
    size = std::min(size, kMaximumEntityExpansion + 1);
    state->entitySizes[entity] = size;
    return size;
}

// Every reference to a declared entity passes here; their expansions are summed against the limit.
xmlEntityPtr GetMeasuredEntity(void* userData, xmlChar const* name)
{
    xmlEntityPtr entity = xmlSAX2GetEntity(userData, name);
    CParseState* state = GetParseState(userData);
    if (!entity || state->found)
        return entity;
    state->entityExpansion += MeasureEntity(state, entity, 0);
    if (state->entityExpansion > kMaximumEntityExpansion)
    {
        StopParse(state, static_cast<xmlParserCtxtPtr>(userData),
                  "Entities expand to more than " + std::to_string(kMaximumEntityExpansion) + " characters");
        return nullptr;
    }
    return entity;
}

bool IsBlank(xmlChar const* text)
{
    for (; text && *text; ++text)
    {
        if (*text != ' ' && *text != '\t' && *text != '\n' && *text != '\r')
            return false;
    }
    return true;
}

std::string GetQualifiedName(xmlNs const* space, xmlChar const* name)
{
    std::string text;
    if (space && space->prefix)
        text = std::string(reinterpret_cast<char const*>(space->prefix)) + ":";
    return text + reinterpret_cast<char const*>(name);
}

void AddAttribute(CXmlElementInfo& info, std::string name, std::string value)
{
    if (info.attributes.emplace(name, std::move(value)).second)
        info.attributeOrder.push_back(std::move(name));
}

std::unique_ptr<CXmlTree> ConvertElement(xmlNode const* element);

// Elements, non-blank text and CDATA become nodes; comments, processing instructions and the
// document type declaration do not.
void ConvertChildren(xmlNode const* first, CXmlTree& parent)
{
    for (xmlNode const* child = first; child; child = child->next)
    {
        if (child->type == XML_ELEMENT_NODE)
        {
            parent.children.push_back(ConvertElement(child));
        }
        else if ((child->type == XML_TEXT_NODE && !IsBlank(child->content)) ||
                 child->type == XML_CDATA_SECTION_NODE)
        {
            auto tree = std::make_unique<CXmlTree>();
            tree->node.typeCode = child->type == XML_TEXT_NODE ? kXmlNodeText : kXmlNodeCData;
            if (child->content)
                tree->node.text = reinterpret_cast<char const*>(child->content);
            parent.children.push_back(std::move(tree));
        }
    }
}

std::unique_ptr<CXmlTree> ConvertElement(xmlNode const* element)
{
    auto tree = std::make_unique<CXmlTree>();
    CXmlNode& node = tree->node;
    node.typeCode = kXmlNodeElement;
    node.text = GetQualifiedName(element->ns, element->name);
    node.hasInfo = true;
    for (xmlNs const* space = element->nsDef; space; space = space->next)
    {
        std::string name = space->prefix
                               ? "xmlns:" + std::string(reinterpret_cast<char const*>(space->prefix))
                               : std::string("xmlns");
        AddAttribute(node.info, name, space->href ? reinterpret_cast<char const*>(space->href) : "");
    }
    for (xmlAttr const* attribute = element->properties; attribute; attribute = attribute->next)
    {
        xmlChar* value = xmlNodeListGetString(element->doc, attribute->children, 1);
        AddAttribute(node.info, GetQualifiedName(attribute->ns, attribute->name),
                     value ? reinterpret_cast<char const*>(value) : "");
        xmlFree(value);
    }
    ConvertChildren(element->children, *tree);
    return tree;
}

// Entities are substituted while parsing (within the limits above and libxml2's own), blank text
// is dropped while converting, and messages are collected instead of printed.
constexpr int kParseOptions = XML_PARSE_NOENT | XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

xmlDocPtr ParseDocument(CFileData const& data, CParseState& state)
{
    if (data.size() > static_cast<size_t>(INT_MAX))
    {
        NoteProblem(&state, -1, "Document is too large");
        return nullptr;
    }
    xmlParserCtxtPtr context = xmlNewParserCtxt();
    if (!context)
        return nullptr;
    state.context = context;
    context->_private = &state;
    context->sax->serror = NoteParserError;
    context->sax->startElementNs = CountElement;
    context->sax->getEntity = GetMeasuredEntity;
    xmlExternalEntityLoader previousLoader = xmlGetExternalEntityLoader();
    xmlSetExternalEntityLoader(RefuseExternalEntity);
    char const* bytes = data.empty() ? "" : reinterpret_cast<char const*>(data.data());
    xmlDocPtr document =
        xmlCtxtReadMemory(context, bytes, static_cast<int>(data.size()), nullptr, nullptr, kParseOptions);
    xmlSetExternalEntityLoader(previousLoader);
    if (document && (!context->wellFormed || state.found))
    {
        xmlFreeDoc(document);
        document = nullptr;
    }
    if (!document && !state.found && context->lastError.code != XML_ERR_OK)
        NoteProblem(&state, context->lastError.line, context->lastError.message);
    xmlFreeParserCtxt(context);
    return document;
}
} // namespace

std::unique_ptr<CXmlTree> ParseXMLData(CFileData const* data)
{
    CParseState state;
    xmlDocPtr document = data ? ParseDocument(*data, state) : nullptr;
    if (!document)
    {
        fprintf(stderr, "Error: XML Error (line: %d) '%s'.\n", state.line,
                state.description.empty() ? "Unknown Error" : state.description.c_str());
        return nullptr;
    }
    auto tree = std::make_unique<CXmlTree>();
    tree->node.typeCode = kXmlNodeDocument;
    ConvertChildren(document->children, *tree);
    xmlFreeDoc(document);
    return tree;
}
