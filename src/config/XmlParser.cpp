// Parsing configuration data with libxml2 into our own node tree.
#include "config/XmlAccess.h"

#include <climits>
#include <cstdio>
#include <string>
#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

namespace
{
// A configuration names a handful of images and items; far more elements than this is not a
// configuration, and building trees for millions of them would only exhaust memory.
constexpr long kMaximumElementCount = 100000;

// What went wrong while parsing: the first error is the one that explains the failure;
// libxml2's last error is often a consequence of it.
struct CParseProblem
{
    xmlParserCtxtPtr context = nullptr; // the document's own context, for the current line
    long elementCount = 0;
    bool found = false;
    int line = -1;
    std::string description;
};

void NoteProblem(CParseProblem* problem, int line, char const* message)
{
    if (problem->found)
        return;
    problem->found = true;
    problem->line = line;
    std::string text = message ? message : "";
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    std::string ascii;
    if (!text.empty() && StringGetValue(&text, &ascii))
        problem->description = ascii;
}

void NoteParserError(void* userData, xmlErrorPtr error)
{
    auto context = static_cast<xmlParserCtxtPtr>(userData);
    if (!context || !error || error->level < XML_ERR_ERROR)
        return;
    NoteProblem(static_cast<CParseProblem*>(context->_private), error->line, error->message);
}

// Configuration files stand alone: no external entity, parameter entity or DTD is ever loaded,
// neither from the network nor from the local disk. Asking for one stops the parse.
xmlParserInputPtr RefuseExternalEntity(char const* url, char const*, xmlParserCtxtPtr context)
{
    if (context && context->_private)
    {
        // Entities are parsed in contexts of their own; the line that matters is the document's.
        auto problem = static_cast<CParseProblem*>(context->_private);
        std::string message = std::string("failed to load external entity \"") + (url ? url : "") + "\"";
        NoteProblem(problem, problem->context->input ? problem->context->input->line : -1, message.c_str());
        xmlStopParser(context);
    }
    return nullptr;
}

// Counts elements as libxml2 builds them and stops the parse once there are too many.
void CountElement(void* userData, xmlChar const* localName, xmlChar const* prefix, xmlChar const* uri,
                  int namespaceCount, xmlChar const** namespaces, int attributeCount, int defaultedCount,
                  xmlChar const** attributes)
{
    auto context = static_cast<xmlParserCtxtPtr>(userData);
    auto problem = static_cast<CParseProblem*>(context->_private);
    if (++problem->elementCount > kMaximumElementCount)
    {
        std::string message = "Document has more than " + std::to_string(kMaximumElementCount) + " elements";
        NoteProblem(problem, problem->context->input ? problem->context->input->line : -1, message.c_str());
        xmlStopParser(context);
        return;
    }
    xmlSAX2StartElementNs(userData, localName, prefix, uri, namespaceCount, namespaces, attributeCount,
                          defaultedCount, attributes);
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
        std::string name = space->prefix ? "xmlns:" + std::string(reinterpret_cast<char const*>(space->prefix))
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

// Entities are substituted while parsing (libxml2 refuses loops and excessive amplification),
// blank text is dropped here, and messages are collected instead of printed.
constexpr int kParseOptions = XML_PARSE_NOENT | XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

xmlDocPtr ParseDocument(CFileData const& data, CParseProblem& problem)
{
    if (data.size() > static_cast<size_t>(INT_MAX))
    {
        NoteProblem(&problem, -1, "Document is too large");
        return nullptr;
    }
    xmlParserCtxtPtr context = xmlNewParserCtxt();
    if (!context)
        return nullptr;
    problem.context = context;
    context->_private = &problem;
    context->sax->serror = NoteParserError;
    context->sax->startElementNs = CountElement;
    xmlExternalEntityLoader previousLoader = xmlGetExternalEntityLoader();
    xmlSetExternalEntityLoader(RefuseExternalEntity);
    char const* bytes = data.empty() ? "" : reinterpret_cast<char const*>(data.data());
    xmlDocPtr document = xmlCtxtReadMemory(context, bytes, static_cast<int>(data.size()), nullptr, nullptr,
                                           kParseOptions);
    xmlSetExternalEntityLoader(previousLoader);
    if (document && (!context->wellFormed || problem.found))
    {
        xmlFreeDoc(document);
        document = nullptr;
    }
    if (!document && !problem.found && context->lastError.code != XML_ERR_OK)
        NoteProblem(&problem, context->lastError.line, context->lastError.message);
    xmlFreeParserCtxt(context);
    return document;
}
} // namespace

std::unique_ptr<CXmlTree> ParseXMLData(CFileData const* data)
{
    CParseProblem problem;
    xmlDocPtr document = data ? ParseDocument(*data, problem) : nullptr;
    if (!document)
    {
        fprintf(stderr, "Error: XML Error (line: %d) '%s'.\n", problem.line,
                problem.description.empty() ? "Unknown Error" : problem.description.c_str());
        return nullptr;
    }
    auto tree = std::make_unique<CXmlTree>();
    tree->node.typeCode = kXmlNodeDocument;
    ConvertChildren(document->children, *tree);
    xmlFreeDoc(document);
    return tree;
}
